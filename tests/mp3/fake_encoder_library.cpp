// A stand-in for the encoder's wrapper library: every entry point, or all but
// the last when built with VELMAR_FAKE_INCOMPLETE.
extern "C" {
int EncOpen() {
  return 0;
}
int EncEncode() {
  return 0;
}
int EncGetSupportedFormatList() {
  return 0;
}
int EncSetOutputFormat() {
  return 0;
}
int EncGetCurrentConfiguration() {
  return 0;
}
int EncSetConfiguration() {
  return 0;
}
int EncGetVBRIndexTable() {
  return 0;
}
int EncClose() {
  return 0;
}
#ifndef VELMAR_FAKE_INCOMPLETE
int EncIsValid() {
  return 1;
}
#endif
}
