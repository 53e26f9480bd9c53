// The display's input fed what a line can carry: whole frames, damaged key
// frames, noise, forwards and quiet gaps, in any order and at any time. The
// oracle checks what must always hold:
// - the assembler's state stays within its bounds, every combination has a
//   name of the keys it holds, and no more combinations wait than key frames
//   came since the queue was last emptied;
// - once the line has been quiet, a key-down and key-up of any key are read
//   as that key, and, with no key held, make exactly that combination;
// - after a quiet gap that follows a damaged key frame (on a line otherwise
//   carrying whole frames), no key stays held.
#include "CombinationKeys.h"
#include "DisplayInput.h"
#include "KeyCapture.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <vector>

namespace {

const uint8_t kStart = DisplayInput::kFrameStart;
const uint8_t kDown = DisplayInput::kMsgKeyDown, kUp = DisplayInput::kMsgKeyUp;
const uint8_t kOtherIds[] = {0x01, 0x04, 0x08, 0x09, 0x0A, 0x0B};
const size_t kLongestName = 64;  // every key of the display at once

void Require(bool condition, const char* what)
{
    if (!condition) {
        fprintf(stderr, "oracle: %s\n", what);
        abort();
    }
}

// Trace lines are formatted as the driver's sink would, then dropped.
void FormatTrace(const char* format, ...)
{
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
}

// Reads the fuzz input as a script; past its end every read gives 0.
class Script {
public:
    Script(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool More() const { return m_pos < m_size; }
    uint8_t Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    uint32_t Word()
    {
        uint32_t w = 0;
        for (int i = 0; i < 4; ++i)
            w = (w << 8) | Byte();
        return w;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// Stands for the display class: records what the input hands on and, like
// the hidden window, empties the combination queue at every forward's end.
class Recorder : public DisplayInput::Receiver {
public:
    DisplayInput* input = nullptr;
    std::vector<int> keyEvents;  // +code for a press, -code - 1 for a release
    std::vector<CombinationKeys> combinations;
    size_t keyFramesSinceDrain = 0;

    void OnFrame(int messageId, const uint8_t* payload) override
    {
        if (messageId == kDown || messageId == kUp)
            ++keyFramesSinceDrain;
        input->Dispatch(messageId, payload);
    }
    void OnKeyDown(uint8_t code) override
    {
        keyEvents.push_back(code);
        input->KeyDown(code);
    }
    void OnKeyUp(uint8_t code) override
    {
        keyEvents.push_back(-code - 1);
        input->KeyUp(code);
    }
    void OnCombination(const CombinationKeys& keys) override
    {
        const std::string name = keys.Name();
        Require(keys.m_dKeys < (1u << 9) && keys.m_tKeys < (1u << 4) && keys.m_cKeys < (1u << 6) &&
                    keys.m_routingKey <= 80,
                "a combination holds a key the display does not have");
        Require(!name.empty() && name.size() <= kLongestName, "a combination without a proper name");
        Require(keys == input->Capture().Combination(), "the capture holds another combination than it handed on");
        combinations.push_back(keys);
        Require(combinations.size() <= keyFramesSinceDrain, "more combinations than key frames");
    }
    void OnCaptureRestart() override {}
    void Drain()
    {
        combinations.clear();
        keyFramesSinceDrain = 0;
    }
};

class Line {
public:
    Line(Script& script) : m_script(script), m_input(m_assembler, m_recorder, &FormatTrace)
    {
        m_recorder.input = &m_input;
        m_now = m_lastBytesAt = script.Word();  // any start, so the clock also wraps
        m_input.Restart(m_now);
    }

    void Run()
    {
        while (m_script.More())
            Step(m_script.Byte());
        QuietGap();
    }

private:
    void Step(uint8_t op)
    {
        switch (op % 8) {
        case 0: Noise(); break;
        case 1: Frame({kStart, kDown, 1, m_script.Byte()}); break;
        case 2: Frame({kStart, kUp, 1, m_script.Byte()}); break;
        case 3: OtherFrame(); break;
        case 4: DamagedKeyFrame(); break;
        case 5: QuietGap(); break;
        case 6: Forward(m_script.Byte() % 64); break;
        default: Reconnect(); break;
        }
    }

    void Send(const uint8_t* bytes, size_t count)
    {
        m_bytesSinceForward = m_bytesSinceForward || count > 0;
        for (size_t i = 0; i < count; ++i) {
            m_input.ReceiveByte(bytes[i]);
            CheckBounds();
        }
    }
    void Frame(std::initializer_list<uint8_t> bytes) { Send(bytes.begin(), bytes.size()); }

    void Noise()
    {
        uint8_t bytes[16];
        const size_t count = 1 + m_script.Byte() % 16;
        for (size_t i = 0; i < count; ++i)
            bytes[i] = m_script.Byte();
        Send(bytes, count);
        m_noisy = true;
    }

    void OtherFrame()
    {
        uint8_t bytes[3 + 255] = {kStart, kOtherIds[m_script.Byte() % sizeof kOtherIds], m_script.Byte()};
        for (int i = 0; i < bytes[2]; ++i)
            bytes[3 + i] = m_script.Byte();
        Send(bytes, 3 + bytes[2]);
    }

    // A key frame with one thing wrong that the line could do to it.
    void DamagedKeyFrame()
    {
        const uint8_t kind = m_script.Byte();
        const uint8_t id = kind & 1 ? kUp : kDown;
        const uint8_t code = m_script.Byte();
        uint8_t bytes[4] = {kStart, id, 1, code};
        size_t from = 0, count = 4;
        switch (kind / 2 % 5) {
        case 0: from = 1, count = 3; break;                           // start byte lost
        case 1: count = 1 + m_script.Byte() % 3; break;               // cut short
        case 2: bytes[2] = static_cast<uint8_t>(2 + code % 254); break;  // length byte not 1
        case 3: bytes[1] = NotAnId(m_script.Byte()); break;           // id byte changed
        default: bytes[3] = NotAKey(code); break;                     // key code changed
        }
        Send(bytes + from, count);
        ++m_damaged;
    }
    static uint8_t NotAnId(uint8_t b)
    {
        for (uint8_t id : kOtherIds)
            if (b == id)
                return 0x03;
        return b == kDown || b == kUp ? 0x07 : b;
    }
    static uint8_t NotAKey(uint8_t b) { return KeyCapture::IsKeyCode(b) ? 0 : b; }

    // The end of a forward of bytes, made `ms` after the last one. Forwards
    // without bytes for the quiet period make a quiet gap too.
    void Forward(uint32_t ms)
    {
        m_now += ms;
        if (m_bytesSinceForward)
            m_lastBytesAt = m_now;
        else if (m_now - m_lastBytesAt >= DisplayInput::kQuietMsToResync)
            m_damaged = 0, m_noisy = false;
        m_bytesSinceForward = false;
        m_input.PollEnd(m_now);
        m_recorder.Drain();
    }

    void QuietGap()
    {
        Forward(0);
        const bool damaged = m_damaged == 1 && !m_noisy;
        Forward(DisplayInput::kQuietMsToResync + m_script.Byte() * 4);
        if (damaged)
            Require(!AnyKeyHeld(), "a key stays held after a damaged key frame and a quiet line");
        ProbeKey(m_script.Byte());
    }

    void Reconnect()
    {
        m_now += m_script.Byte();
        m_lastBytesAt = m_now;
        m_bytesSinceForward = false;
        m_input.Restart(m_now);
        m_damaged = 0;
        m_noisy = false;
        Require(!AnyKeyHeld(), "a key held across a new connection");
    }

    // The user presses and releases one key after the quiet line.
    void ProbeKey(uint8_t code)
    {
        const bool noneHeld = !AnyKeyHeld();
        m_recorder.keyEvents.clear();
        Frame({kStart, kDown, 1, code, kStart, kUp, 1, code});
        Require(m_recorder.keyEvents == std::vector<int>({code, -code - 1}),
                "a key-down and key-up after a quiet line are not read as that key");
        if (noneHeld && KeyCapture::IsKeyCode(code)) {
            Require(m_recorder.combinations.size() == 1, "one key pressed alone makes no single combination");
            KeyCapture alone;
            alone.KeyDown(code);
            Require(m_recorder.combinations.back() == alone.Combination(), "a key pressed alone makes another combination");
        }
        Forward(0);
    }

    bool AnyKeyHeld() const
    {
        for (int code = 0; code < 256; ++code)
            if (KeyCapture::IsKeyCode(static_cast<uint8_t>(code)) && m_input.Capture().IsHeld(static_cast<uint8_t>(code)))
                return true;
        return false;
    }

    void CheckBounds() const
    {
        const FrameAssembler& a = m_input.Assembler();
        Require(a.phase >= FrameAssembler::PhaseIdle && a.phase <= FrameAssembler::PhasePayload, "phase out of range");
        Require(a.writePos >= 0 && a.writePos < FrameAssembler::kPayloadSize, "write position outside the payload");
        if (a.phase == FrameAssembler::PhasePayload)
            Require(a.length >= 1 && a.length <= 255 && a.writePos < a.length, "payload state beyond its length");
        const int group = m_input.Capture().Group();
        Require(group == KeyCapture::CaptureNone || group == KeyCapture::CaptureD || group == KeyCapture::CaptureT ||
                    group == KeyCapture::CaptureC,
                "capture group out of range");
    }

    Script& m_script;
    FrameAssembler m_assembler;
    Recorder m_recorder;
    DisplayInput m_input;
    uint32_t m_now = 0;
    uint32_t m_lastBytesAt = 0;
    bool m_bytesSinceForward = false;
    int m_damaged = 0;    // damaged key frames since the last quiet gap
    bool m_noisy = false;  // noise since the last quiet gap
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Script script(data, size);
    Line line(script);
    line.Run();
    return 0;
}
