#pragma once
// Making and removing folder trees on top of the platform's operations.
// Links inside a tree being removed are never followed: a link is deleted
// as a link, and what it points to is left alone.
#include <string>

namespace velmo {

// Creates every missing folder of path; true when the folder exists after
// (an existing entry of that name counts). The root (rootLength) is never
// tried, nor a prefix that ends in a separator.
bool createDirectoryChain(const std::wstring& path);
// Deletes a tree depth first; failures are passed over and the walk goes
// on, then tried once more. A link at path is unlinked, never entered.
// True when nothing is left at path.
bool removeTree(const std::wstring& path);
// True when the folder has no entries, or cannot be listed.
bool isDirectoryEmpty(const std::wstring& path);

}  // namespace velmo
