// How well the score checker finds the writing mistakes of a new user: random well-formed scores, each
// checked as it is and then with one mistake of every kind. Prints the share of scores without an error,
// and over the mistakes that change the music: how many are found, how many within one column of the
// mistake (on its line, and on any line of its line set), how many with the first finding on or above the
// mistaken line; over the mistakes that change nothing, how many still give an error.
//
//   checker_mutations [ROUNDS [SEED [KIND [unfound|errors]]]]   KIND: also print misses of that kind ("none":
//       the scores that have a finding without a mistake); unfound: only those not found, errors: only those
//       that change nothing and still give an error

#include "cp932.h"
#include "score_mutations.h"

#include <cstdio>
#include <cstdlib>

namespace {

void Print(const char* name, const nagisora::test::MutationTally& t) {
    const auto share = [](std::size_t part, std::size_t whole) {
        return whole == 0 ? 100.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole);
    };
    std::printf("%-24s changing %6zu  found %6.2f %%  column on line %6.2f %%  in set %6.2f %%  "
                "first on/before %6.2f %%  neutral %5zu with error %zu\n",
                name, t.changing, share(t.found, t.changing), share(t.columnOnLine, t.changing),
                share(t.columnInSet, t.changing), share(t.firstOnOrBefore, t.changing), t.neutral,
                t.neutralWithError);
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 2000;
    const unsigned seed = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1;
    std::map<std::string, nagisora::test::MutationTally> perKind;
    const std::string shown = argc > 3 ? argv[3] : "";
    int printed = 0;
    const auto show = [&](const nagisora::test::GeneratedScore& score,
                          const nagisora::test::Mutation* mutation,
                          const nagisora::test::MutationOutcome& outcome) {
        if (shown.empty() || printed >= 8 || (mutation ? shown != mutation->kind : shown != "none")) return;
        const std::string only = argc > 4 ? argv[4] : "";
        if ((only == "unfound" && outcome.found) ||
            (only == "errors" && (outcome.changesEvents || !outcome.anyError)))
            return;
        ++printed;
        std::vector<std::string> lines = score.lines;
        if (mutation) {
            lines[mutation->line] = mutation->Applied(lines[mutation->line], mutation->byte);
            std::printf("--- %s at %zu:%d, changes %d found %d column %d in set %d first %d\n",
                        mutation->kind, mutation->line + 1,
                        nagisora::ColumnOfByte(score.lines[mutation->line], mutation->byte),
                        outcome.changesEvents, outcome.found, outcome.columnOnLine, outcome.columnInSet,
                        outcome.firstOnOrBefore);
        } else {
            std::printf("--- as generated\n");
        }
        for (const std::string& line : lines)
            std::printf("%s\n", nagisora::DecodeCp932(line).c_str());
        for (const nagisora::Finding& f : nagisora::CheckScore(nagisora::test::ScoreLines(lines)))
            std::printf("  %d:%d %s %s\n", f.span.line, f.span.column,
                        std::string(nagisora::SeverityName(f.severity)).c_str(),
                        std::string(nagisora::CodeName(f.code)).c_str());
    };
    const nagisora::test::MutationTally all = nagisora::test::RunMutations(seed, rounds, &perKind, show);
    std::printf("scores %zu, with an error %zu, with any finding %zu\n", all.scores, all.scoresWithError,
                all.scoresWithFinding);
    for (const auto& [kind, tally] : perKind)
        Print(kind.c_str(), tally);
    Print("all", all);
}
