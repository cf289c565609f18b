#pragma once
// The operating system's headers for the platform sources; only platform sources include
// them (here, or one header directly: SysUtils.cpp, IniFiles.cpp), so the rest of the code
// stays portable.

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <langinfo.h>
#include <limits.h>
#include <locale.h>
#include <setjmp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
