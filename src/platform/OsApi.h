#pragma once
// The one place that pulls in the operating system's headers; only platform sources
// include it, so the rest of the code stays portable.

#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/types.h>
#include <unistd.h>
