// Minimal read-only file access with 64-bit offsets, in both native and Windows builds,
// without pulling in <windows.h>. Files are opened with full read/write sharing.
#pragma once

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

using TByteArray = std::vector<uint8_t>;

// A file that exists could not be opened, sought or read.
class EFileStreamError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// File names are UTF-8 (on Windows too, where they are opened through the wide functions).

// True when FileName names an existing regular file (not a folder).
bool FileExists(const std::string &FileName);

// Owns one C stream opened for reading; closed by its destructor (fclose).
class TFCloseFile {
public:
  // Opens read-only; throws EFileStreamError on failure.
  explicit TFCloseFile(const std::string &FileName);
  ~TFCloseFile();
  TFCloseFile(TFCloseFile &&Other) noexcept;
  TFCloseFile &operator=(TFCloseFile &&Other) noexcept;
  TFCloseFile(const TFCloseFile &) = delete;
  TFCloseFile &operator=(const TFCloseFile &) = delete;

  int64_t Size();                           // current size in bytes
  void Seek(int64_t Offset);                // absolute position
  size_t ReadSome(void *Dst, size_t Count); // up to Count bytes; fewer only at the end
  void ReadExact(void *Dst, size_t Count);  // throws EFileStreamError on a short read

private:
  std::FILE *FFile = nullptr;
  std::string FName;
};

// Whole file into memory (empty for an empty file). Throws EFileStreamError.
TByteArray ReadWholeFile(const std::string &FileName);
