#include "core/util/safe_save.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/util/byte_stream.h"
#include "core/util/exceptions.h"

namespace qvl {

namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

[[noreturn]] void FileError(const char* verb, const std::string& fileName, int error) {
  throw EFileError(std::string(verb) + " \"" + fileName + "\". " + std::strerror(error));
}

// A stream on a file descriptor that the save owns (the temporary file).
class TTempFileStream : public TStream {
 public:
  explicit TTempFileStream(std::FILE* file) : file_(file) {}
  size_t Read(void* buffer, size_t n) override { return std::fread(buffer, 1, n, file_); }
  size_t Write(const void* buffer, size_t n) override { return std::fwrite(buffer, 1, n, file_); }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    const int whence = origin == TSeekOrigin::Begin     ? SEEK_SET
                       : origin == TSeekOrigin::Current ? SEEK_CUR
                                                        : SEEK_END;
    if (!(origin == TSeekOrigin::Current && offset == 0)) fseeko(file_, offset, whence);
    return ftello(file_);
  }
  int64_t Size() override {
    std::fflush(file_);
    return TStream::Size();
  }
  void SetSize(int64_t size) override {
    std::fflush(file_);
    if (ftruncate(fileno(file_), size) != 0) throw EWriteError("Stream write error");
  }

 private:
  std::FILE* file_;
};

// Copies `from` to a new file `to` and flushes it to the disk; false on failure (errno set).
bool CopyFile(const std::string& from, const std::string& to, mode_t mode) {
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (out < 0) {
    const int e = errno;
    close(in);
    errno = e;
    return false;
  }
  std::vector<char> buffer(1 << 16);
  bool ok = true;
  for (;;) {
    const ssize_t got = read(in, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = write(out, buffer.data() + done, size_t(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        ok = false;
        break;
      }
      done += put;
    }
    if (!ok) break;
  }
  if (ok && fsync(out) != 0) ok = false;
  const int e = errno;
  close(in);
  if (close(out) != 0) ok = false;
  if (!ok) {
    unlink(to.c_str());
    errno = e ? e : EIO;
  }
  return ok;
}

void SyncFolder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);  // best effort: some file systems refuse it
  close(fd);
}

}  // namespace

std::string BackupFileName(const std::string& fileName) {
  const size_t slash = fileName.rfind('/');
  const size_t dot = fileName.rfind('.');
  const bool hasExtension =
      dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  return (hasExtension ? fileName.substr(0, dot) : fileName) + ".qvlbak";
}

void SafeSaveFile(const std::string& fileName, const std::function<void(TStream&)>& write,
                  bool keepBackup) {
  // Save through a symbolic link into the file it names.
  std::string target = fileName;
  struct stat linkInfo;
  if (lstat(fileName.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
    char resolved[PATH_MAX];
    if (realpath(fileName.c_str(), resolved)) target = resolved;
  }
  struct stat old;
  const bool exists = stat(target.c_str(), &old) == 0;
  if (exists && !S_ISREG(old.st_mode)) FileError("Cannot create file", fileName, EISDIR);
  const std::string folder = FolderOf(target);

  std::string tempName = folder + "/." + NameOf(target) + ".XXXXXX";
  const int fd = mkstemp(tempName.data());
  if (fd < 0) FileError("Cannot create file", fileName, errno);
  mode_t mode;
  if (exists) {
    mode = old.st_mode & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  fchmod(fd, mode);
  std::FILE* file = fdopen(fd, "w+b");
  if (!file) {
    const int e = errno;
    close(fd);
    unlink(tempName.c_str());
    FileError("Cannot create file", fileName, e);
  }

  // First the new content, flushed to the disk.
  try {
    TTempFileStream stream(file);
    write(stream);
  } catch (...) {
    std::fclose(file);
    unlink(tempName.c_str());
    throw;
  }
  int error = 0;
  if (std::fflush(file) != 0 || fsync(fileno(file)) != 0) error = errno;
  if (std::fclose(file) != 0 && error == 0) error = errno;
  if (error != 0) {
    unlink(tempName.c_str());
    FileError("Cannot write file", fileName, error);
  }

  // Then the old content kept as the backup, made only when there is none yet: the first backup
  // (normally the file as downloaded) is never replaced. It is a second link to the old content
  // (a copy where the file system has no links), renamed into place.
  const std::string backup = BackupFileName(target);
  if (keepBackup && exists && backup != target) {
    struct stat entry, backupInfo;
    if (lstat(backup.c_str(), &entry) != 0) {
      const std::string backupTemp = tempName + ".bak";
      if (link(target.c_str(), backupTemp.c_str()) != 0 &&
          !CopyFile(target, backupTemp, old.st_mode & 07777)) {
        const int e = errno;
        unlink(tempName.c_str());
        FileError("Cannot create file", backup, e);
      }
      if (rename(backupTemp.c_str(), backup.c_str()) != 0) {
        const int e = errno;
        unlink(backupTemp.c_str());
        unlink(tempName.c_str());
        FileError("Cannot create file", backup, e);
      }
    } else if (stat(backup.c_str(), &backupInfo) != 0 || !S_ISREG(backupInfo.st_mode)) {
      // Something that is no backup file (a folder, a broken link) holds the name.
      unlink(tempName.c_str());
      FileError("Cannot create file", backup, EEXIST);
    }
  }

  // Last the new file in place, in one step.
  if (rename(tempName.c_str(), target.c_str()) != 0) {
    const int e = errno;
    unlink(tempName.c_str());
    FileError("Cannot write file", fileName, e);
  }
  SyncFolder(folder);
}

}  // namespace qvl
