#pragma once

namespace imagefile {

// renameat2(RENAME_NOREPLACE) of `from` to `to`, both in the directory dirFd:
// 0, or -1 with errno set (EINVAL or ENOSYS where the file system or kernel
// lacks the flag). Alone in its own source file so that a test can link a
// version of its own in its place.
int renameNoReplace(int dirFd, const char* from, const char* to);

} // namespace imagefile
