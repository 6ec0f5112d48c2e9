#pragma once

// Where the preview's exact seeks land, and when to seek again from further back.
//
// mpv's exact seek asks the demuxer for a point before the target, decodes from there and shows the
// first picture at or after the target. A demuxer without an index (MPEG-TS, MPEG-PS) finds that point
// by searching timestamps and may land between key frames; decoding can then begin only at the next key
// frame, which may lie seconds after the target, and a paused seek shows that picture instead. Seeking
// again with decoding begun further back (mpv's hr-seek-demuxer-offset, the lead) reaches the key frame
// before the target. The lead a file needed is kept for its next seeks. GUI thread only, like the player.
class CSeekLanding {
public:
    // A new file: no lead.
    void Reset() { *this = CSeekLanding(); }
    // Seconds before its target that the next seek begins decoding.
    double Lead() const { return m_lead; }
    // A seek to `target` shows a picture of time `landed` (seconds, the same clock); pictures are `frame`
    // seconds apart. True when it landed late and must be sought again, with a longer Lead().
    bool Late(double target, double landed, double frame);

private:
    static constexpr int kMaxRetries = 5;
    static constexpr double kMaxLead = 120;
    double m_lead = 0;
    int m_retries = 0; // of the seek in progress
};
