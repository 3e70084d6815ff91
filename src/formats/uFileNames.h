// What the names other recording tools give their files say about the recording: centre
// frequency, sample rate and sample type. Used only where neither a sidecar nor the file's
// own header gives the value.
#pragma once

#include <string>

struct TFileNameInfo {
  double SampleRateHz = 0;
  bool HasSampleRate = false; // a usable rate (IsUsableSampleRate)
  double CenterFreqHz = 0;
  bool HasCenterFreq = false;
  std::string FormatHint; // as a sidecar's output_format would say it; empty when none
  bool HasFormatHint = false;
  std::string Convention; // which naming matched ("freq_rate", "gqrx", ...); empty when none
};

// Pure function of the file name (folders and case of the extension do not matter). A name
// that follows none of the known conventions gives the initial record.
//   freq_rate:    ..._433.92M_250k.cu8 (also .cs8, .cs16, .cf32): centre and rate
//   gqrx:         gqrx_YYYYMMDD_HHMMSS_FREQ_RATE_fc.raw: centre, rate, float32 samples
//   baseband:     baseband_FREQHz_....ext: centre
//   IQ/RF WAV:    ..._FREQHz_IQ.wav, ..._FREQkHz_RF.wav: centre
TFileNameInfo ParseRecordingFileName(const std::string &FileName);
