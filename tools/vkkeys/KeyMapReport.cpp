#include "KeyMapReport.h"

#include "KeyMapChecker.h"

int KeyMapReport::Write(const std::string& path, const std::string& shownName, LineWriter& out)
{
    KeyMapChecker checker;
    int errors = 0, warnings = 0;
    for (const KeyMapChecker::Finding& f : checker.Check(path)) {
        const std::string where = shownName + (f.line ? ":" + std::to_string(f.line) : "") + ": ";
        out.Line(where + (f.error ? "" : "warning: ") + f.text);
        ++(f.error ? errors : warnings);
    }
    if (errors + warnings == 0)
        out.Line(shownName + ": OK, " + std::to_string(checker.Chords().size()) + " chords");
    else
        out.Line(shownName + ": " + std::to_string(errors) + (errors == 1 ? " error, " : " errors, ") +
                 std::to_string(warnings) + (warnings == 1 ? " warning" : " warnings"));
    return errors;
}
