// A viewer and a thumbnail of 4 GiB WAV and VITA-49 recordings through the plug-in DLL: more
// than the 32-bit build could hold in memory, and offsets past 32 bits. The files are sparse,
// so they cost little disk: only the WAV header, the VITA-49 packet headers and the first
// stretch of samples are written.
#include "support/win32_TestHost.h"

#include <winioctl.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using namespace testhost;

namespace {

constexpr int IDC_STATUS = 1005;

// A file of Size bytes holding only the given pieces; the rest is a hole (zeros).
class TSparseFile {
public:
  TSparseFile(const wchar_t *Name, int64_t Size) {
    wchar_t Dir[MAX_PATH];
    GetTempPathW(MAX_PATH, Dir);
    Path = std::wstring(Dir) + Name;
    H = CreateFileW(Path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (H == INVALID_HANDLE_VALUE)
      return;
    DWORD Ret = 0;
    DeviceIoControl(H, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &Ret, nullptr); // where supported
    LARGE_INTEGER End;
    End.QuadPart = Size;
    Ok = SetFilePointerEx(H, End, nullptr, FILE_BEGIN) && SetEndOfFile(H);
  }
  ~TSparseFile() {
    Close();
    DeleteFileW(Path.c_str());
  }
  void Put(int64_t Off, const void *Data, size_t Len) {
    LARGE_INTEGER P;
    P.QuadPart = Off;
    DWORD W = 0;
    Ok = Ok && SetFilePointerEx(H, P, nullptr, FILE_BEGIN) &&
         WriteFile(H, Data, static_cast<DWORD>(Len), &W, nullptr) && W == Len;
  }
  void Close() {
    if (H != INVALID_HANDLE_VALUE)
      CloseHandle(H);
    H = INVALID_HANDLE_VALUE;
  }
  std::wstring Path;
  bool Ok = false;

private:
  HANDLE H = INVALID_HANDLE_VALUE;
};

// A tone as int16 I/Q pairs, little-endian (Big: big-endian).
std::vector<uint8_t> Tone(size_t N, bool Big) {
  std::vector<uint8_t> B(4 * N);
  for (size_t I = 0; I < N; ++I) {
    const double P = 2 * 3.14159265358979 * 0.09 * static_cast<double>(I);
    const auto V = [&](double X) { return static_cast<uint16_t>(static_cast<int16_t>(9000 * X)); };
    const uint16_t Re = V(std::cos(P)), Im = V(std::sin(P));
    const uint8_t *R = reinterpret_cast<const uint8_t *>(&Re), *Q = reinterpret_cast<const uint8_t *>(&Im);
    B[4 * I + 0] = Big ? R[1] : R[0];
    B[4 * I + 1] = Big ? R[0] : R[1];
    B[4 * I + 2] = Big ? Q[1] : Q[0];
    B[4 * I + 3] = Big ? Q[0] : Q[1];
  }
  return B;
}

void PutLE32(std::vector<uint8_t> &B, uint32_t V) {
  for (int I = 0; I < 4; ++I)
    B.push_back(static_cast<uint8_t>(V >> (8 * I)));
}
void PutBE32(std::vector<uint8_t> &B, uint32_t V) {
  for (int I = 3; I >= 0; --I)
    B.push_back(static_cast<uint8_t>(V >> (8 * I)));
}

void WriteSidecar(const std::wstring &Recording, const std::string &Text) {
  const std::wstring Side = Recording.substr(0, Recording.find_last_of(L'.')) + L".txt";
  HANDLE H = CreateFileW(Side.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD W = 0;
  WriteFile(H, Text.data(), static_cast<DWORD>(Text.size()), &W, nullptr);
  CloseHandle(H);
}

bool ThumbnailHasContent(HBITMAP Bmp) {
  bool Content = false;
  DIBSECTION Ds{};
  if (Bmp && GetObjectW(Bmp, sizeof Ds, &Ds) == sizeof Ds && Ds.dsBm.bmBits) {
    const auto *B = static_cast<const uint8_t *>(Ds.dsBm.bmBits);
    const size_t N = static_cast<size_t>(Ds.dsBm.bmWidthBytes) * static_cast<size_t>(Ds.dsBm.bmHeight);
    for (size_t I = 0; I < N && !Content; ++I)
      Content = B[I] != 30; // anything but the background
  }
  if (Bmp)
    DeleteObject(Bmp);
  return Content;
}

class LargeFilesGL : public PluginSuite {
protected:
  // Thumbnail and first frame of Path; the status line then shows the whole duration.
  static void ShowsAndPreviews(const std::wstring &Path, const wchar_t *Duration) {
    EXPECT_TRUE(ThumbnailHasContent(plugin->PreviewW(Path.c_str(), 120, 90, nullptr, 0))) << "thumbnail";
    HostWindow Host(640, 480);
    HWND Root = plugin->LoadW(Host.Wnd, Path.c_str(), 0);
    ASSERT_NE(Root, nullptr) << "viewer";
    HostWindow::Pump();
    // The waterfall of a large window fills after the first frame, the status saying so.
    std::wstring Status = WindowText(GetDlgItem(Root, IDC_STATUS));
    for (const DWORD Start = GetTickCount();
         Status.rfind(L"Filling waterfall ", 0) == 0 && GetTickCount() - Start < 60000;
         Status = WindowText(GetDlgItem(Root, IDC_STATUS)))
      HostWindow::Pump(5);
    EXPECT_EQ(Status.rfind(std::wstring(L"Pos: 0.00/") + Duration, 0), 0u)
        << std::string(Status.begin(), Status.end());
    plugin->Close(Root);
  }
};

constexpr int64_t FOUR_GIB = int64_t(1) << 32;

} // namespace

TEST_F(LargeFilesGL, FourGiBWav) {
  ASSERT_NE(plugin->Module, nullptr);
  TSparseFile F(L"zb_4gib.wav", FOUR_GIB);
  ASSERT_TRUE(F.Ok) << "cannot make a sparse 4 GiB file here";
  const uint32_t Data = static_cast<uint32_t>(FOUR_GIB - 44); // 1,073,741,813 samples
  std::vector<uint8_t> H{'R', 'I', 'F', 'F'};
  PutLE32(H, Data + 36);
  for (char C : std::string("WAVEfmt "))
    H.push_back(static_cast<uint8_t>(C));
  PutLE32(H, 16);
  PutLE32(H, 1 | 2 << 16);  // PCM, two channels
  PutLE32(H, 1000000);      // samples per second
  PutLE32(H, 4000000);      // bytes per second
  PutLE32(H, 4 | 16 << 16); // block align 4, 16 bits
  for (char C : std::string("data"))
    H.push_back(static_cast<uint8_t>(C));
  PutLE32(H, Data);
  F.Put(0, H.data(), H.size());
  const std::vector<uint8_t> T = Tone(200000, false);
  F.Put(44, T.data(), T.size());
  ASSERT_TRUE(F.Ok);
  F.Close();
  ShowsAndPreviews(F.Path, L"1073.74s");
}

TEST_F(LargeFilesGL, FourGiBVita49) {
  ASSERT_NE(plugin->Module, nullptr);
  // Data packets of the largest size, 65,535 words: a header word, the stream id and 65,533
  // samples; 16,385 of them pass 4 GiB.
  constexpr int64_t Words = 0xFFFF, PacketBytes = Words * 4, Packets = 16385;
  TSparseFile F(L"zb_4gib.iq", Packets * PacketBytes);
  ASSERT_TRUE(F.Ok) << "cannot make a sparse 4 GiB file here";
  const std::vector<uint8_t> T = Tone(static_cast<size_t>(Words - 2), true);
  for (int64_t K = 0; K < Packets; ++K) {
    std::vector<uint8_t> B;
    PutBE32(B, 1u << 28 | static_cast<uint32_t>(K & 15) << 16 | static_cast<uint32_t>(Words));
    PutBE32(B, 0x00000A01);
    F.Put(K * PacketBytes, B.data(), B.size());
    if (K < 2)
      F.Put(K * PacketBytes + 8, T.data(), T.size());
  }
  ASSERT_TRUE(F.Ok);
  F.Close();
  WriteSidecar(F.Path, "output_format=sda-wav\nsample_rate_hz=1000000\n");
  ShowsAndPreviews(F.Path, L"1073.76s"); // 16,385 x 65,533 samples at 1 MHz
  DeleteFileW((F.Path.substr(0, F.Path.size() - 3) + L".txt").c_str());
}
