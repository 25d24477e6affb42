#ifndef ZEPH_SAVER_INSTALL_COPY_TREE_H_
#define ZEPH_SAVER_INSTALL_COPY_TREE_H_

#include <string>

namespace zeph {

/// Copies the folder `from`, with everything inside it, to the new path `to`,
/// which must not exist yet. Regular files and folders keep their permission
/// bits (rwx; set-id bits are dropped), symbolic links are copied as links and
/// never followed; other kinds of file are refused. `from` itself is followed
/// when it is a link. Throws std::system_error naming the call and the path;
/// whatever was copied before a failure stays in place.
void copyTree(const std::string& from, const std::string& to);

/// Removes whatever is at `path`: a folder with everything inside it, or a
/// file or a symbolic link itself (never its target). Nothing there is not an
/// error. Throws std::system_error naming the path.
void removeTree(const std::string& path);

}  // namespace zeph

#endif  // ZEPH_SAVER_INSTALL_COPY_TREE_H_
