// Saving a file without ever losing what was there: the new content goes to a temporary file in the
// same folder, which is flushed to the disk and then renamed over the old file. The old content is
// kept as a backup beside it. At every moment the file holds either its old or its complete new
// content; a failure removes the temporary file and is reported. The backup is made once: the
// first one, normally the file as it was downloaded, is never replaced by a later save.
#pragma once

#include <functional>
#include <string>

namespace qvl {

class TStream;

// The backup's name: the file name with its extension replaced by ".qvlbak" (appended when the
// name has none).
std::string BackupFileName(const std::string& fileName);

// Writes `fileName` through `write`. With keepBackup, an existing file is kept as its backup
// when it has none yet (an existing backup is left as it is; a backup name held by anything
// other than a file stops the save). Raises EFileError naming the file when a step fails; an
// exception from `write` is passed on. Either way the existing file is left as it was.
void SafeSaveFile(const std::string& fileName, const std::function<void(TStream&)>& write,
                  bool keepBackup = true);

}  // namespace qvl
