// A small library for the loading tests.
extern "C" int RtlProbeAnswer() { return 42; }
