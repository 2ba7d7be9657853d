// Where langmon-report puts its page: never over the log it reads, and never through a link that
// someone left at the page's name.
#pragma once

#include <sys/stat.h>
#include <string>
#include <string_view>

namespace langmon_report {

// Whether `path`, through any links, is the very file `input` describes (the same device and
// inode, whatever the names); false when nothing is there.
bool IsFile(const std::string& path, const struct stat& input);
// The same for an open descriptor (standard output).
bool IsFile(int fd, const struct stat& input);

// Writes `bytes` to a new file in the folder of `path` and renames it to `path`: a link at that
// name is replaced, not followed, and a write that fails leaves whatever was there as it was.
// Before the rename the name is checked against `input` once more. False, with `error` saying
// why, when the page was not written; `*wouldReplaceInput` says whether that was the reason.
bool WriteFileInPlaceOf(const std::string& path, std::string_view bytes, const struct stat& input,
                        bool* wouldReplaceInput, std::string* error);

}  // namespace langmon_report
