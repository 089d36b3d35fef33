/* Strict C without POSIX declarations: the header must say what it needs. */
#include "hyxuser/hyxuser.h"
