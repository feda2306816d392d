#include "RenameNoReplace.h"

#include <sys/syscall.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace imagefile {

int renameNoReplace(int dirFd, const char* from, const char* to)
{
    return int(::syscall(SYS_renameat2, dirFd, from, dirFd, to, RENAME_NOREPLACE));
}

} // namespace imagefile
