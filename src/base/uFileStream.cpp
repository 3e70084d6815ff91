// Read-only file access with 64-bit offsets. On Windows the C runtime's _wfsopen with
// _SH_DENYNO and _fseeki64 give full sharing and large offsets in the 32-bit build as well;
// names are UTF-8 inside the plug-in and go to the wide functions, so any name the file
// system holds can be opened. Natively fseeko/ftello with a 64-bit off_t.
#include "base/uFileStream.h"

#include "base/uText.h"

#include <cerrno>
#include <cstring>
#include <utility>

#ifdef _WIN32
#include <share.h>
#include <sys/stat.h>
#include <sys/types.h>
#else
#include <sys/stat.h>
#include <sys/types.h>
#endif

namespace {

std::string ErrText(const char *What, const std::string &FileName) {
  const int Err = errno;
  std::string Msg = std::string(What) + " \"" + FileName + "\"";
  if (Err != 0) {
    Msg += ": ";
    Msg += std::strerror(Err);
  }
  return Msg;
}

#ifdef _WIN32
// Empty for a name that is not well-formed UTF-8 (then no file has it).
std::wstring WideName(const std::string &FileName) {
  std::u16string U;
  if (!Utf8ToUtf16(FileName, U))
    return {};
  return std::wstring(U.begin(), U.end());
}
#endif

} // namespace

bool FileExists(const std::string &FileName) {
  if (FileName.empty())
    return false;
#ifdef _WIN32
  const std::wstring W = WideName(FileName);
  struct _stat64 St;
  if (W.empty() || _wstat64(W.c_str(), &St) != 0)
    return false;
  return (St.st_mode & _S_IFMT) == _S_IFREG;
#else
  struct stat St;
  if (stat(FileName.c_str(), &St) != 0)
    return false;
  return S_ISREG(St.st_mode);
#endif
}

TFCloseFile::TFCloseFile(const std::string &FileName) : FName(FileName) {
  errno = 0;
#ifdef _WIN32
  const std::wstring W = WideName(FileName);
  if (W.empty())
    errno = ENOENT;
  else
    FFile = _wfsopen(W.c_str(), L"rb", _SH_DENYNO);
#else
  FFile = std::fopen(FileName.c_str(), "rb");
#endif
  if (!FFile)
    throw EFileStreamError(ErrText("Cannot open file", FileName));
}

TFCloseFile::~TFCloseFile() {
  if (FFile)
    std::fclose(FFile);
}

TFCloseFile::TFCloseFile(TFCloseFile &&Other) noexcept
    : FFile(std::exchange(Other.FFile, nullptr)), FName(std::move(Other.FName)) {}

TFCloseFile &TFCloseFile::operator=(TFCloseFile &&Other) noexcept {
  if (this != &Other) {
    if (FFile)
      std::fclose(FFile);
    FFile = std::exchange(Other.FFile, nullptr);
    FName = std::move(Other.FName);
  }
  return *this;
}

int64_t TFCloseFile::Size() {
  errno = 0;
#ifdef _WIN32
  struct _stat64 St;
  if (_fstat64(_fileno(FFile), &St) != 0)
    throw EFileStreamError(ErrText("Cannot get the size of", FName));
  return static_cast<int64_t>(St.st_size);
#else
  struct stat St;
  if (fstat(fileno(FFile), &St) != 0)
    throw EFileStreamError(ErrText("Cannot get the size of", FName));
  return static_cast<int64_t>(St.st_size);
#endif
}

void TFCloseFile::Seek(int64_t Offset) {
  errno = 0;
#ifdef _WIN32
  const int Rc = _fseeki64(FFile, Offset, SEEK_SET);
#else
  static_assert(sizeof(off_t) >= 8, "64-bit file offsets required");
  const int Rc = fseeko(FFile, static_cast<off_t>(Offset), SEEK_SET);
#endif
  if (Rc != 0)
    throw EFileStreamError(ErrText("Seek error in", FName));
}

size_t TFCloseFile::ReadSome(void *Dst, size_t Count) {
  if (Count == 0)
    return 0;
  errno = 0;
  const size_t Got = std::fread(Dst, 1, Count, FFile);
  if (Got < Count && std::ferror(FFile))
    throw EFileStreamError(ErrText("Read error in", FName));
  return Got;
}

void TFCloseFile::ReadExact(void *Dst, size_t Count) {
  if (ReadSome(Dst, Count) != Count) {
    errno = 0;
    throw EFileStreamError(ErrText("Stream read error (unexpected end) in", FName));
  }
}

TByteArray ReadWholeFile(const std::string &FileName) {
  TFCloseFile F(FileName);
  const int64_t N = F.Size();
  if (N <= 0)
    return {};
  if (static_cast<uint64_t>(N) > static_cast<uint64_t>(SIZE_MAX / 2))
    throw EFileStreamError("File too large to decode in memory: \"" + FileName + "\"");
  TByteArray Buf(static_cast<size_t>(N));
  F.ReadExact(Buf.data(), Buf.size());
  return Buf;
}
