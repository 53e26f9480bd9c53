// Key capture of the display: which keys are held, when a combination is
// complete, and the keys of the combination in progress. No platform types:
// built into the driver and, natively, into its fuzz targets.
#pragma once

#include "CombinationKeys.h"

#include <cstdint>

class KeyCapture {
public:
    enum CaptureGroup { CaptureNone = 0, CaptureD = 5, CaptureT = 6, CaptureC = 7 };

    // Each returns true when the key finishes a combination: Combination()
    // then holds it until NextCombination().
    bool KeyDown(uint8_t code);
    bool KeyUp(uint8_t code);

    CombinationKeys Combination() const;
    // Capture starts afresh; keys still held stay held.
    void NextCombination();
    // Forgets held keys and the combination in progress.
    void ReleaseAll();

    bool IsHeld(uint8_t code) const { return m_keyPressed[code] != 0; }
    int Group() const { return m_captureGroup; }
    // A code of one of the display's keys.
    static bool IsKeyCode(uint8_t code);

private:
    uint8_t m_keyPressed[256] = {};
    uint8_t m_keyInCombination[256] = {};
    int m_captureGroup = CaptureNone;
};
