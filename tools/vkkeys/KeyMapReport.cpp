#include "KeyMapReport.h"

#include "KeyMapChecker.h"
#include "KeyMapTexts.h"
#include "ToolText.h"

using tooltext::Text;

int KeyMapReport::Write(const std::string& path, const std::string& shownName, LineWriter& out)
{
    KeyMapChecker checker;
    int errors = 0, warnings = 0;
    for (const KeyMapChecker::Finding& f : checker.Check(path)) {
        const std::string where = shownName + (f.line ? ":" + std::to_string(f.line) : "");
        out.Line(Text(f.error ? IDS_REPORT_FINDING : IDS_REPORT_WARNING, {where, f.text}));
        ++(f.error ? errors : warnings);
    }
    if (errors + warnings == 0)
        out.Line(Text(IDS_REPORT_OK, {shownName, std::to_string(checker.Chords().size())}));
    else
        out.Line(Text(IDS_REPORT_COUNTS, {shownName, std::to_string(errors), std::to_string(warnings)}));
    return errors;
}
