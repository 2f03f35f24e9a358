#include "platform/ui/LayoutSolver.h"

#include "platform/foundation/Paths.h"
#include "tests/support/ShellCommand.h"

#include <filesystem>
#include <fmt/format.h>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sstream>

using namespace platform;

namespace {

using R = LayoutRelation;

LayoutConstraint eq(const LayoutExpression& a, const LayoutExpression& b,
                    double s = LayoutStrength::required) {
    return LayoutConstraint(a, R::Equal, b, s);
}
LayoutConstraint le(const LayoutExpression& a, const LayoutExpression& b,
                    double s = LayoutStrength::required) {
    return LayoutConstraint(a, R::LessOrEqual, b, s);
}
LayoutConstraint ge(const LayoutExpression& a, const LayoutExpression& b,
                    double s = LayoutStrength::required) {
    return LayoutConstraint(a, R::GreaterOrEqual, b, s);
}

} // namespace

// Values of solvable systems are cross-checked against kiwisolver below; these pin the refusals and
// the edit-variable bookkeeping it cannot see.
TEST(LayoutSolverTest, RemovingTheStrongerConstraintHandsTheConflictToTheWeakerOne) {
    LayoutVariable x("x");
    LayoutSolver solver;
    auto strongOne = eq(x, 90, 750);
    solver.addConstraint(eq(x, 10, 250));
    solver.addConstraint(strongOne);
    solver.updateVariables();
    EXPECT_DOUBLE_EQ(x.value(), 90);
    solver.removeConstraint(strongOne);
    solver.updateVariables();
    EXPECT_DOUBLE_EQ(x.value(), 10);
    EXPECT_FALSE(solver.hasConstraint(strongOne));
}

TEST(LayoutSolverTest, UnsatisfiableRequiredConstraintIsRefusedAndLeavesTheSolutionAlone) {
    LayoutVariable x("x"), y("y");
    LayoutSolver solver;
    solver.addConstraint(ge(x, 10));
    solver.addConstraint(eq(y, LayoutExpression(x) + 5));
    EXPECT_THROW(solver.addConstraint(le(x, 5)), LayoutSolverError);
    EXPECT_THROW(solver.addConstraint(eq(LayoutExpression(y) - x, 7)), LayoutSolverError);
    solver.addConstraint(eq(x, 12, LayoutStrength::weak));
    solver.updateVariables();
    EXPECT_DOUBLE_EQ(x.value(), 12);
    EXPECT_DOUBLE_EQ(y.value(), 17);
}

TEST(LayoutSolverTest, DuplicateAndUnknownConstraintsAreErrors) {
    LayoutVariable x("x");
    LayoutSolver solver;
    auto c = eq(x, 1);
    solver.addConstraint(c);
    EXPECT_THROW(solver.addConstraint(c), LayoutSolverError);
    EXPECT_THROW(solver.removeConstraint(eq(x, 1)), LayoutSolverError);
    EXPECT_THROW(solver.addEditVariable(x, LayoutStrength::required), LayoutSolverError);
    EXPECT_THROW(solver.suggestValue(x, 3), LayoutSolverError);
}

TEST(LayoutSolverTest, EditVariablesFollowSuggestionsWithinRequiredBounds) {
    LayoutVariable intrinsic("intrinsic"), width("width");
    LayoutSolver solver;
    solver.addConstraint(le(width, 200));
    solver.addConstraint(eq(width, LayoutExpression(intrinsic) + 16, LayoutStrength::strong));
    solver.addEditVariable(intrinsic, LayoutStrength::strong * 2);
    solver.suggestValue(intrinsic, 50);
    solver.updateVariables();
    EXPECT_DOUBLE_EQ(width.value(), 66);
    solver.suggestValue(intrinsic, 120);
    solver.updateVariables();
    EXPECT_DOUBLE_EQ(width.value(), 136);
    solver.suggestValue(intrinsic, 400);
    solver.updateVariables();
    EXPECT_DOUBLE_EQ(width.value(), 200);
    EXPECT_DOUBLE_EQ(intrinsic.value(), 400);

    solver.removeEditVariable(intrinsic);
    EXPECT_FALSE(solver.hasEditVariable(intrinsic));
    EXPECT_THROW(solver.suggestValue(intrinsic, 1), LayoutSolverError);
}

// Random satisfiable systems solved here and by python3-kiwisolver must agree. Every system is built
// around a feasible point, and every variable gets a weakly weighted target with a random weight, so the
// optimum is a single point and both solvers have to find the same one.
namespace {

struct RandomSystem {
    int variableCount{0};
    struct Item {
        std::vector<std::pair<int, double>> terms;
        double constant;
        int relation; // -1, 0, 1
        double strength;
    };
    std::vector<Item> items;
    std::vector<std::pair<int, double>> edits; // variable, suggested value
};

RandomSystem makeSystem(std::mt19937& rng) {
    std::uniform_real_distribution<double> coordinate(-100, 100);
    std::uniform_real_distribution<double> coefficient(-3, 3);
    std::uniform_real_distribution<double> strength(1, 900);
    std::uniform_int_distribution<int> count(2, 6);
    RandomSystem system;
    system.variableCount = count(rng);
    std::vector<double> point(system.variableCount);
    for (auto& p : point)
        p = std::round(coordinate(rng));
    std::uniform_int_distribution<int> pick(0, system.variableCount - 1);
    int constraintCount = count(rng) + 2;
    for (int i = 0; i < constraintCount; ++i) {
        RandomSystem::Item item;
        int termCount = 1 + static_cast<int>(rng() % 3);
        double atPoint = 0;
        for (int t = 0; t < termCount; ++t) {
            int v = pick(rng);
            double c = std::round(coefficient(rng) * 4) / 4;
            if (c == 0)
                c = 1;
            item.terms.push_back({v, c});
            atPoint += c * point[v];
        }
        item.relation = static_cast<int>(rng() % 3) - 1;
        bool required = rng() % 3 == 0;
        item.strength = required ? LayoutStrength::required : std::round(strength(rng) * 100) / 100;
        double slackRoom = std::round(coordinate(rng));
        if (required) {
            // expression relation 0 holds at the point.
            item.constant = -atPoint + item.relation * std::fabs(slackRoom);
        } else {
            item.constant = slackRoom;
        }
        system.items.push_back(item);
    }
    for (int v = 0; v < system.variableCount; ++v)
        system.items.push_back({{{v, 1.0}}, -std::round(coordinate(rng)), 0, 0.01 + 0.001 * (rng() % 1000)});
    if (rng() % 2 == 0) {
        int v = pick(rng);
        system.edits.push_back({v, std::round(coordinate(rng))});
        system.edits.push_back({v, std::round(coordinate(rng))});
    }
    return system;
}

std::vector<double> solveHere(const RandomSystem& system) {
    std::vector<LayoutVariable> variables;
    for (int i = 0; i < system.variableCount; ++i)
        variables.emplace_back(fmt::format("v{}", i));
    LayoutSolver solver;
    for (auto& item : system.items) {
        LayoutExpression expression(item.constant);
        for (auto& [v, c] : item.terms)
            expression = expression + LayoutExpression(variables[v]) * c;
        auto relation = item.relation < 0    ? R::LessOrEqual
                        : item.relation == 0 ? R::Equal
                                             : R::GreaterOrEqual;
        solver.addConstraint(LayoutConstraint(expression, relation, item.strength));
    }
    for (auto& [v, value] : system.edits) {
        if (!solver.hasEditVariable(variables[v]))
            solver.addEditVariable(variables[v], LayoutStrength::medium);
        solver.suggestValue(variables[v], value);
    }
    solver.updateVariables();
    std::vector<double> values;
    for (auto& v : variables)
        values.push_back(v.value());
    return values;
}

std::string pythonFor(const std::vector<RandomSystem>& systems) {
    std::ostringstream out;
    out << "import kiwisolver as k\n"
           "def run(n, items, edits):\n"
           "    vs = [k.Variable('v%d' % i) for i in range(n)]\n"
           "    s = k.Solver()\n"
           "    for terms, const, rel, st in items:\n"
           "        e = const\n"
           "        for v, c in terms: e = e + vs[v] * c\n"
           "        c = (e <= 0) if rel < 0 else (e == 0) if rel == 0 else (e >= 0)\n"
           "        s.addConstraint(c | st)\n"
           "    for v, val in edits:\n"
           "        if not s.hasEditVariable(vs[v]): s.addEditVariable(vs[v], 'medium')\n"
           "        s.suggestValue(vs[v], val)\n"
           "    s.updateVariables()\n"
           "    print(' '.join(repr(v.value()) for v in vs))\n";
    for (auto& system : systems) {
        out << "run(" << system.variableCount << ", [";
        for (auto& item : system.items) {
            out << "([";
            for (auto& [v, c] : item.terms)
                out << fmt::format("({}, {:.17g}), ", v, c);
            out << fmt::format("], {:.17g}, {}, {:.17g}), ", item.constant, item.relation, item.strength);
        }
        out << "], [";
        for (auto& [v, value] : system.edits)
            out << fmt::format("({}, {:.17g}), ", v, value);
        out << "])\n";
    }
    return out.str();
}

} // namespace

TEST(LayoutSolverTest, AgreesWithKiwisolverOnRandomSystems) {
    if (!std::filesystem::exists("/usr/bin/python3"))
        GTEST_SKIP() << "no /usr/bin/python3";
    std::mt19937 rng(20261206);
    std::vector<RandomSystem> systems;
    for (int i = 0; i < 300; ++i)
        systems.push_back(makeSystem(rng));

    auto script = Paths::temporary() / "layout-crosscheck.py";
    std::ofstream(script) << pythonFor(systems);
    int status = -1;
    auto output = liveapp::test::runCommand("/usr/bin/python3 " + script.string(), &status);
    ASSERT_EQ(status, 0) << output;

    std::istringstream lines(output);
    std::string line;
    size_t index = 0;
    while (std::getline(lines, line)) {
        ASSERT_LT(index, systems.size());
        auto ours = solveHere(systems[index]);
        std::istringstream fields(line);
        for (size_t v = 0; v < ours.size(); ++v) {
            double theirs = 0;
            fields >> theirs;
            EXPECT_NEAR(ours[v], theirs, 1e-6) << "system " << index << " variable " << v;
        }
        ++index;
    }
    EXPECT_EQ(index, systems.size());
}
