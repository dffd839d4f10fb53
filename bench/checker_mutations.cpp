// How well the score checker finds the writing mistakes of a new user: random well-formed scores, each
// checked as it is and then with one mistake of every kind. Prints the share of scores without an error,
// and over the mistakes that change the music: how many are found, how many within one column of the
// mistake (on its line, and on any line of its line set), how many with the first finding on or above the
// mistaken line; over the mistakes that change nothing, how many still give an error.
//
//   checker_mutations [ROUNDS [SEED [KIND [unfound|errors]]]]   KIND: also print misses of that kind ("none":
//       the scores that have a finding without a mistake); unfound: only those not found, errors: only those
//       that change nothing and still give an error
//   checker_mutations --tunes ROUNDS SEED FILE...   the same on scores written by hand, ROUNDS rounds each
//   checker_mutations --ceiling ROUNDS SEED   for a unit left out or added: how many places of the set's two
//       lines mend the mistaken score into one without any finding (the text cannot tell these apart), the
//       share a single column within one of the mistake could reach if the mistake were at any of them
//       alike, and the share the checker's own lines-apart finding reaches

#include "core/score_file_lines.h"
#include "score_mutations.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// The ceiling of the column for the mistakes that leave out or add one unit of a pitch or duration line.
void PrintCeiling(int rounds, unsigned seed) {
    using namespace nagisora;
    using namespace nagisora::test;
    struct Sums {
        double candidates = 0;
        double ceiling = 0;
        std::size_t checker = 0;
        std::size_t count = 0;
    };
    std::map<std::string, Sums> perKind;
    std::mt19937 random(seed);
    static const char* added[] = {"ロ", "　", "－", "＋", "＝", "３", "５"};
    for (int round = 0; round < rounds; ++round) {
        const GeneratedScore score = GenerateScore(random);
        for (std::size_t kind = 0; kind < MutationKinds().size(); ++kind) {
            const std::optional<Mutation> m = Mutate(score, kind, random);
            const std::string name = m ? m->kind : "";
            if (name != "dropped-note" && name != "extra-note" && name != "dropped-duration" &&
                name != "extra-duration")
                continue;
            std::vector<std::string> mutated = score.lines;
            mutated[m->line] = m->Applied(score.lines[m->line], m->byte);
            if (SameEvents(TimedOf(ScoreLines(score.lines)), TimedOf(ScoreLines(mutated)))) continue;
            const bool inPitch = name == "dropped-note" || name == "extra-note";
            const std::size_t p = inPitch ? m->line : m->line - 1;
            std::vector<std::int32_t> truth; // the columns that give the same text as the mistake
            const std::string& original = score.lines[m->line];
            for (std::size_t at = 0; at + m->removed <= original.size(); ++at)
                if (m->Applied(original, at) == mutated[m->line]) truth.push_back(ColumnOfByte(original, at));
            // Every unit taken out, every note or duration symbol put in, in either line of the set.
            std::vector<std::pair<std::size_t, std::int32_t>> places; // line, column
            for (const std::size_t j : {p, p + 1}) {
                const std::string& text = mutated[j];
                for (std::size_t b = 0; b <= text.size(); b += 2) {
                    std::vector<std::string> mends;
                    if (b + 2 <= text.size()) mends.push_back(text.substr(0, b) + text.substr(b + 2));
                    for (const char* unit : added)
                        if ((j == p) == (unit == added[0]))
                            mends.push_back(text.substr(0, b) + Sjis(unit) + text.substr(b));
                    for (const std::string& mend : mends) {
                        std::vector<std::string> lines = mutated;
                        lines[j] = mend;
                        if (CheckScore(ScoreLines(lines)).empty())
                            places.emplace_back(j, ColumnOfByte(text, b));
                    }
                }
            }
            std::size_t best = 0;
            for (const auto& [line, column] : places) {
                std::size_t near = 0;
                for (const auto& other : places)
                    near += other.first == line && std::abs(other.second - column - 1) <= 1;
                best = std::max(best, near);
            }
            bool hit = false;
            for (const Finding& f : CheckScore(ScoreLines(mutated)))
                for (const std::int32_t c : truth)
                    hit = hit || (f.code == FindingCode::LinesApart &&
                                  f.span.line == static_cast<std::int32_t>(m->line) + 1 &&
                                  std::abs(f.span.column - c) <= 1);
            Sums& sums = perKind[name];
            sums.candidates += static_cast<double>(places.size());
            sums.ceiling +=
                places.empty() ? 0.0 : static_cast<double>(best) / static_cast<double>(places.size());
            sums.checker += hit;
            ++sums.count;
        }
    }
    for (const auto& [kind, sums] : perKind)
        std::printf("%-24s changing %6zu  mending places %5.2f  ceiling %6.2f %%  lines-apart %6.2f %%\n",
                    kind.c_str(), sums.count, sums.candidates / static_cast<double>(sums.count),
                    100.0 * sums.ceiling / static_cast<double>(sums.count),
                    100.0 * static_cast<double>(sums.checker) / static_cast<double>(sums.count));
}

int RunTunes(int argc, char** argv) {
    const int rounds = std::atoi(argv[2]);
    std::mt19937 random(static_cast<unsigned>(std::atoi(argv[3])));
    std::map<std::string, nagisora::test::MutationTally> perKind;
    nagisora::test::MutationTally all;
    for (int a = 4; a < argc; ++a) {
        const std::string bytes = nagisora::test::ReadBytes(argv[a]);
        const std::vector<std::string_view> views = nagisora::SplitScoreFileLines(bytes);
        const nagisora::test::GeneratedScore score =
            nagisora::test::ScoreOfLines(std::vector<std::string>(views.begin(), views.end()));
        nagisora::test::MutationTally tune;
        std::nullptr_t none = nullptr;
        for (int round = 0; round < rounds; ++round)
            nagisora::test::TallyRound(score, random, tune, &perKind, none);
        std::printf("%s: %zu line sets, with an error %zu, with any finding %zu (of %zu checks as written)\n",
                    argv[a], score.pitchLines.size(), tune.scoresWithError, tune.scoresWithFinding,
                    tune.scores);
        Print("  all", tune);
        all.scores += tune.scores;
        all.scoresWithError += tune.scoresWithError;
        all.scoresWithFinding += tune.scoresWithFinding;
        all.changing += tune.changing;
        all.found += tune.found;
        all.columnOnLine += tune.columnOnLine;
        all.columnInSet += tune.columnInSet;
        all.firstOnOrBefore += tune.firstOnOrBefore;
        all.neutral += tune.neutral;
        all.neutralWithError += tune.neutralWithError;
    }
    for (const auto& [kind, tally] : perKind)
        Print(kind.c_str(), tally);
    Print("all", all);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 4 && std::strcmp(argv[1], "--tunes") == 0) return RunTunes(argc, argv);
    if (argc > 3 && std::strcmp(argv[1], "--ceiling") == 0) {
        PrintCeiling(std::atoi(argv[2]), static_cast<unsigned>(std::atoi(argv[3])));
        return 0;
    }
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
