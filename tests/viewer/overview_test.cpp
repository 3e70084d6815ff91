// The whole-recording overview: a burst far shorter than a column is found by the full pass in
// its own column at its own frequency; the worker thread gives the same picture, reports its
// progress and stops at once when cancelled.
#include "viewer_fixtures.h"

#include "formats/uIQFormats.h"
#include "viewer/uOverview.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <thread>

namespace {

TOverviewImage Blank(int32_t W, int32_t H) {
  TOverviewImage I;
  I.Width = W, I.Height = H;
  I.Db.assign(static_cast<size_t>(W) * H, -std::numeric_limits<float>::infinity());
  I.Pass.assign(static_cast<size_t>(W), 0);
  return I;
}

// The row holding the strongest level of column X.
int32_t PeakRow(const TOverviewImage &I, int32_t X) {
  int32_t Best = 0;
  for (int32_t Y = 1; Y < I.Height; ++Y)
    Best = I.At(X, Y) > I.At(X, Best) ? Y : Best;
  return Best;
}

TEST(Overview, FullPassFindsAShortBurstInItsColumnAndRow) {
  TTempDir D;
  const std::string F = D.File("burst.cs16");
  // 4 s at 2 MHz; a tone at +100 kHz (frequency row 0.525 of the height) for 2 ms at 2.0 s.
  WriteInt16Recording(F, Sec(4), Sec(2.0), Sec(2.002));
  const TIQSource Src(F, "");
  const std::atomic<bool> Never{false};
  TOverviewImage Img = Blank(40, 32); // 0.1 s per column
  EXPECT_EQ(OverviewNFFT(32), 64);
  ASSERT_TRUE(OverviewSampledPass(Src, Img, Never));
  for (int32_t X = 0; X < 40; ++X)
    EXPECT_EQ(Img.Pass[static_cast<size_t>(X)], 1);
  for (int32_t X = 0; X < 40; ++X)
    ASSERT_TRUE(OverviewFullColumn(Src, Img, X, Never));
  const int32_t ToneRow = static_cast<int32_t>(0.525 * 32);
  for (int32_t X = 0; X < 40; ++X) {
    if (X == 20) {
      EXPECT_NEAR(PeakRow(Img, X), ToneRow, 1);
      EXPECT_GT(Img.At(X, PeakRow(Img, X)), -20.0f);
    } else {
      EXPECT_EQ(Img.At(X, ToneRow), -120.0f) << "column " << X; // silence elsewhere
    }
  }
  // Colours: the top image row is the highest frequency; the tone's pixel is the brightest.
  float Lo = 0, Hi = 0;
  OverviewLevels(Img, Lo, Hi);
  EXPECT_EQ(Lo, -120.0f);
  const std::vector<uint8_t> RGB = OverviewRGB(Img, Lo, Hi);
  ASSERT_EQ(RGB.size(), 40u * 32 * 3);
  const size_t Tone = (static_cast<size_t>(31 - PeakRow(Img, 20)) * 40 + 20) * 3;
  const TRGB C = MapDbToColor(Img.At(20, PeakRow(Img, 20)), Lo, Hi);
  EXPECT_EQ(RGB[Tone], C.R);
  EXPECT_EQ(RGB[Tone + 1], C.G);
}

// A sample too large for single precision's powers: its column is done in double precision and
// shows the true level; the other columns stay as they are.
TEST(Overview, HugeSampleKeepsItsTrueLevel) {
  TTempDir D;
  const std::string F = D.File("huge.cf32");
  std::vector<float> V(2 * 64 * 64, 0.0f); // four columns of 16 transforms, silent
  V[2 * (64 * 40 + 7)] = 3e30f;            // in column 2
  std::FILE *Out = std::fopen(F.c_str(), "wb");
  ASSERT_NE(Out, nullptr);
  std::fwrite(V.data(), sizeof(float), V.size(), Out);
  std::fclose(Out);
  const TIQSource Src(F, "");
  const std::atomic<bool> Never{false};
  TOverviewImage Img = Blank(4, 32);
  ASSERT_TRUE(OverviewFullPass(Src, Img, Never, nullptr, 1));
  for (int32_t X = 0; X < 4; ++X)
    for (int32_t Y = 0; Y < 32; ++Y) {
      // 3e30 times the window's value at sample 7 of 64, squared: about 556 dB.
      if (X == 2)
        ASSERT_NEAR(Img.At(X, Y),
                    10 * std::log10(std::pow(3e30 * 0.5 * (1 - std::cos(2 * 3.14159265358979 * 7 / 64)), 2)),
                    0.01);
      else
        ASSERT_EQ(Img.At(X, Y), -120.0f);
    }
}

TEST(Overview, WorkerGivesTheSamePictureAndCancelsAtOnce) {
  TTempDir D;
  const std::string F = D.File("tone.cs16");
  WriteInt16Recording(F, Sec(2), Sec(0.5), Sec(1.5));
  {
    TOverviewJob Job(F, "", 16, 20);
    for (int I = 0; I < 2000 && !Job.Finished(); ++I)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(Job.Finished());
    EXPECT_EQ(Job.Failure(), "");
    double Done = 0;
    const TOverviewImage Got = Job.Snapshot(Done);
    EXPECT_EQ(Done, 1.0);
    const TIQSource Src(F, "");
    const std::atomic<bool> Never{false};
    TOverviewImage Want = Blank(16, 20);
    for (int32_t X = 0; X < 16; ++X)
      OverviewFullColumn(Src, Want, X, Never);
    EXPECT_EQ(Got.Db, Want.Db);
    // Any number of threads, the columns they take in turn give the same picture.
    for (int32_t Threads : {1, 3, 40}) {
      TOverviewImage Img = Blank(16, 20);
      std::atomic<int32_t> Columns{0};
      ASSERT_TRUE(OverviewFullPass(Src, Img, Never, nullptr, Threads, &Columns));
      EXPECT_EQ(Img.Db, Want.Db) << Threads;
      EXPECT_EQ(Columns.load(), 16);
    }
  }
  // A long recording: cancelling stops the worker before its passes are through.
  const std::string Long = D.File("long.cs16");
  WriteInt16Recording(Long, Sec(60));
  {
    TOverviewJob Job(Long, "", 200, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Job.Cancel();
    double Done = 0;
    EXPECT_TRUE(Job.Finished());
    EXPECT_EQ(Job.Snapshot(Done).Width, 200);
    EXPECT_LT(Done, 1.0);
  }
  // A missing file stops the worker with the reason.
  TOverviewJob Bad(D.File("missing.cs16"), "", 8, 8);
  for (int I = 0; I < 1000 && !Bad.Finished(); ++I)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(Bad.Finished());
}

} // namespace
