#include "DialogTemplate.h"

namespace {

class Reader {
public:
    Reader(const BYTE* data, DWORD size) : m_data(data), m_size(size), m_pos(0) {}

    bool Ok() const { return m_pos <= m_size; }
    WORD Word() { return static_cast<WORD>(Take(2)); }
    DWORD Dword() { return static_cast<DWORD>(Take(4)); }
    BYTE Byte() { return static_cast<BYTE>(Take(1)); }
    void AlignDword() { m_pos = (m_pos + 3) & ~3u; }

    std::string String()
    {
        std::wstring text;
        for (WORD c = Word(); c != 0 && Ok(); c = Word())
            text += static_cast<wchar_t>(c);
        return Utf8(text);
    }

    // A name or an ordinal (0xFFFF followed by the ordinal).
    WORD OrdinalOrString(std::string* name)
    {
        WORD first = Peek();
        if (first == 0xFFFF) {
            Word();
            return Word();
        }
        std::string text = String();
        if (name)
            *name = text;
        return 0;
    }

private:
    unsigned long Take(DWORD count)
    {
        unsigned long value = 0;
        for (DWORD i = 0; i < count; ++i, ++m_pos)
            if (m_pos < m_size)
                value |= static_cast<unsigned long>(m_data[m_pos]) << (8 * i);
        return value;
    }
    WORD Peek() const { return m_pos + 1 < m_size ? static_cast<WORD>(m_data[m_pos] | m_data[m_pos + 1] << 8) : 0; }

    static std::string Utf8(const std::wstring& text)
    {
        int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
        std::string result(length, '\0');
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &result[0], length, nullptr, nullptr);
        return result;
    }

    const BYTE* m_data;
    DWORD m_size;
    DWORD m_pos;
};

RECT ReadRect(Reader& reader)
{
    RECT rect;
    rect.left = static_cast<SHORT>(reader.Word());
    rect.top = static_cast<SHORT>(reader.Word());
    rect.right = rect.left + static_cast<SHORT>(reader.Word());
    rect.bottom = rect.top + static_cast<SHORT>(reader.Word());
    return rect;
}

}  // namespace

bool DialogTemplate::Load(HMODULE module, WORD id, LANGID language)
{
    HRSRC resource = FindResourceExA(module, reinterpret_cast<LPCSTR>(RT_DIALOG), MAKEINTRESOURCEA(id), language);
    if (!resource)
        return false;
    const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module, resource)));
    Reader reader(data, SizeofResource(module, resource));
    if (reader.Word() != 1 || reader.Word() != 0xFFFF)
        return false;
    reader.Dword();  // help id
    exStyle = reader.Dword();
    style = reader.Dword();
    WORD count = reader.Word();
    rect = ReadRect(reader);
    reader.OrdinalOrString(nullptr);  // menu
    reader.OrdinalOrString(nullptr);  // class
    caption = reader.String();
    if (style & DS_SETFONT) {
        pointSize = reader.Word();
        weight = reader.Word();
        italic = reader.Byte();
        charset = reader.Byte();
        typeface = reader.String();
    }
    for (WORD i = 0; i < count; ++i) {
        reader.AlignDword();
        Control control;
        reader.Dword();  // help id
        control.exStyle = reader.Dword();
        control.style = reader.Dword();
        control.rect = ReadRect(reader);
        control.id = reader.Dword();
        control.classAtom = reader.OrdinalOrString(nullptr);
        reader.OrdinalOrString(&control.text);
        WORD extra = reader.Word();
        for (WORD b = 0; b < extra; ++b)
            reader.Byte();
        controls.push_back(control);
    }
    return reader.Ok();
}
