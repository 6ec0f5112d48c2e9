#include "SeekLanding.h"

#include <algorithm>

bool CSeekLanding::Late(double target, double landed, double frame) {
    // The first picture at or after the target lies within a frame of it (the rate may count fields).
    const bool late = landed > target + std::max(1.5 * frame, 0.06);
    // Decoding from the very start of the file reaches every picture; a file whose pictures begin
    // after the target lands late whatever the lead.
    if (!late || m_retries >= kMaxRetries || m_lead >= std::min(target, kMaxLead)) {
        m_retries = 0;
        return false;
    }
    ++m_retries;
    // Key frames at least as far apart as the landing was late; doubling covers wider gaps quickly.
    m_lead = std::min(kMaxLead, std::max(2 * m_lead, landed - target + 1));
    return true;
}
