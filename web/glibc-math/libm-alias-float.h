#include "glibc_compat.h"
