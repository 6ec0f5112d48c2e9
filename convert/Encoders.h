#pragma once

// Step 2 of a conversion: each runs on the job's encoder thread, reads the temporary WAV and writes
// the output file of its format. 0 on success, -1 on failure or cancel.
int Mp3EncodeProc();
int OggEncodeProc();
int WmaEncodeProc();
int FlacEncodeProc();
int OpusEncodeProc();
int AacEncodeProc(); // AAC in MP4 (.m4a)
// Not an encoder: the WAV output's step 2 when the sound is to change (loudness, fades), which
// shapes the finished file's samples in place. A cancel leaves the samples not reached unchanged.
int WavShapeProc();
