#pragma once
// The one place that pulls in the operating system's headers; only platform sources
// include it, so the rest of the code stays portable.

#include <dlfcn.h>
#include <fcntl.h>
#include <langinfo.h>
#include <limits.h>
#include <locale.h>
#include <signal.h>
#include <sys/time.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>
