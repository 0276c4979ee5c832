/* The cross compiler's libstdc++ was configured for glibc. Its C wrappers
 * (<cstdlib>, ...) are used over uClibc, which lacks quick_exit and
 * at_quick_exit: those wrappers must not name them. */
#include_next <bits/c++config.h>
#undef _GLIBCXX_HAVE_AT_QUICK_EXIT
#undef _GLIBCXX_HAVE_QUICK_EXIT
