// One finding of lint: FILE:LINE: CAPTION: TEXT (TEXT on one line; LINE 0
// for the file as a whole). The tool prints the findings, the service
// console answers them as JSON.
#ifndef KORVEX_TOOLS_COMMON_LINT_FINDING_H_
#define KORVEX_TOOLS_COMMON_LINT_FINDING_H_

#include <string>

namespace korvex::tools {

struct LintFinding {
    std::string file;
    unsigned line = 0;
    std::string caption;
    std::string text;
};

}  // namespace korvex::tools

#endif  // KORVEX_TOOLS_COMMON_LINT_FINDING_H_
