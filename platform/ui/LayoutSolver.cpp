#include "platform/ui/LayoutSolver.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace platform {

double LayoutExpression::value() const {
    double result = constant;
    for (auto& term : terms)
        result += term.coefficient * term.variable.value();
    return result;
}

LayoutExpression operator+(LayoutExpression a, const LayoutExpression& b) {
    a.terms.insert(a.terms.end(), b.terms.begin(), b.terms.end());
    a.constant += b.constant;
    return a;
}

LayoutExpression operator-(LayoutExpression a, const LayoutExpression& b) {
    return std::move(a) + b * -1.0;
}

LayoutExpression operator*(LayoutExpression a, double factor) {
    for (auto& term : a.terms)
        term.coefficient *= factor;
    a.constant *= factor;
    return a;
}

LayoutExpression operator*(double factor, LayoutExpression a) {
    return std::move(a) * factor;
}

namespace {

// Merges repeated variables so the tableau sees each once.
LayoutExpression reduced(const LayoutExpression& expression) {
    std::map<LayoutVariable, double> sums;
    std::vector<LayoutVariable> order;
    for (auto& term : expression.terms) {
        auto [it, inserted] = sums.emplace(term.variable, 0.0);
        if (inserted)
            order.push_back(term.variable);
        it->second += term.coefficient;
    }
    LayoutExpression result(expression.constant);
    for (auto& variable : order)
        result.terms.push_back({variable, sums[variable]});
    return result;
}

} // namespace

LayoutConstraint::LayoutConstraint(const LayoutExpression& expression, LayoutRelation relation,
                                   double strength)
    : m_data(std::make_shared<Data>(
          Data{reduced(expression), relation, std::clamp(strength, 0.0, LayoutStrength::required)})) {}

LayoutConstraint::LayoutConstraint(const LayoutExpression& lhs, LayoutRelation relation,
                                   const LayoutExpression& rhs, double strength)
    : LayoutConstraint(lhs - rhs, relation, strength) {}

namespace {

constexpr double epsilon = 1.0e-8;

bool nearZero(double value) {
    return std::fabs(value) < epsilon;
}

enum class SymbolType { Invalid, External, Slack, Error, Dummy };

struct Symbol {
    uint64_t id{0};
    SymbolType type{SymbolType::Invalid};
    bool valid() const { return type != SymbolType::Invalid; }
    friend bool operator<(const Symbol& a, const Symbol& b) { return a.id < b.id; }
};

// A tableau row: basic symbol = constant + sum(coefficient * symbol).
struct Row {
    double constant{0};
    std::map<Symbol, double> cells;

    double add(double value) { return constant += value; }
    void insert(const Symbol& symbol, double coefficient = 1.0) {
        double& cell = cells[symbol];
        cell += coefficient;
        if (nearZero(cell))
            cells.erase(symbol);
    }
    void insert(const Row& other, double coefficient = 1.0) {
        constant += other.constant * coefficient;
        for (auto& [symbol, value] : other.cells)
            insert(symbol, value * coefficient);
    }
    void remove(const Symbol& symbol) { cells.erase(symbol); }
    void reverseSign() {
        constant = -constant;
        for (auto& cell : cells)
            cell.second = -cell.second;
    }
    // Solves `0 = this` for symbol, which must be in the row.
    void solveFor(const Symbol& symbol) {
        double coefficient = -1.0 / cells[symbol];
        cells.erase(symbol);
        constant *= coefficient;
        for (auto& cell : cells)
            cell.second *= coefficient;
    }
    // Solves `lhs = this` for rhs.
    void solveFor(const Symbol& lhs, const Symbol& rhs) {
        insert(lhs, -1.0);
        solveFor(rhs);
    }
    double coefficientFor(const Symbol& symbol) const {
        auto it = cells.find(symbol);
        return it == cells.end() ? 0.0 : it->second;
    }
    void substitute(const Symbol& symbol, const Row& row) {
        auto it = cells.find(symbol);
        if (it == cells.end())
            return;
        double coefficient = it->second;
        cells.erase(it);
        insert(row, coefficient);
    }
};

struct Tag {
    Symbol marker;
    Symbol other;
};

struct EditInfo {
    Tag tag;
    LayoutConstraint constraint;
    double constant{0};
};

} // namespace

struct LayoutSolver::Impl {
    std::map<const void*, std::pair<LayoutConstraint, Tag>> constraints;
    std::map<const void*, std::pair<LayoutVariable, Symbol>> variables;
    std::map<const void*, EditInfo> edits;
    std::map<Symbol, Row> rows;
    std::vector<Symbol> infeasibleRows;
    Row objective;
    std::optional<Row> artificial;
    uint64_t nextId{1};

    Symbol makeSymbol(SymbolType type) { return Symbol{nextId++, type}; }

    Symbol symbolFor(const LayoutVariable& variable) {
        auto it = variables.find(variable.identity());
        if (it != variables.end())
            return it->second.second;
        Symbol symbol = makeSymbol(SymbolType::External);
        variables.emplace(variable.identity(), std::make_pair(variable, symbol));
        return symbol;
    }

    Row createRow(const LayoutConstraint& constraint, Tag& tag) {
        const LayoutExpression& expression = constraint.expression();
        Row row;
        row.constant = expression.constant;
        for (auto& term : expression.terms) {
            if (nearZero(term.coefficient))
                continue;
            Symbol symbol = symbolFor(term.variable);
            auto it = rows.find(symbol);
            if (it != rows.end())
                row.insert(it->second, term.coefficient);
            else
                row.insert(symbol, term.coefficient);
        }
        double strength = constraint.strength();
        bool required = strength >= LayoutStrength::required;
        switch (constraint.relation()) {
        case LayoutRelation::LessOrEqual:
        case LayoutRelation::GreaterOrEqual: {
            double coefficient = constraint.relation() == LayoutRelation::LessOrEqual ? 1.0 : -1.0;
            Symbol slack = makeSymbol(SymbolType::Slack);
            tag.marker = slack;
            row.insert(slack, coefficient);
            if (!required) {
                Symbol error = makeSymbol(SymbolType::Error);
                tag.other = error;
                row.insert(error, -coefficient);
                objective.insert(error, strength);
            }
            break;
        }
        case LayoutRelation::Equal:
            if (!required) {
                Symbol plus = makeSymbol(SymbolType::Error);
                Symbol minus = makeSymbol(SymbolType::Error);
                tag.marker = plus;
                tag.other = minus;
                row.insert(plus, -1.0);
                row.insert(minus, 1.0);
                objective.insert(plus, strength);
                objective.insert(minus, strength);
            } else {
                Symbol dummy = makeSymbol(SymbolType::Dummy);
                tag.marker = dummy;
                row.insert(dummy);
            }
            break;
        }
        if (row.constant < 0.0)
            row.reverseSign();
        return row;
    }

    static Symbol chooseSubject(const Row& row, const Tag& tag) {
        for (auto& [symbol, coefficient] : row.cells)
            if (symbol.type == SymbolType::External)
                return symbol;
        for (const Symbol& candidate : {tag.marker, tag.other})
            if ((candidate.type == SymbolType::Slack || candidate.type == SymbolType::Error) &&
                row.coefficientFor(candidate) < 0.0)
                return candidate;
        return {};
    }

    static bool allDummies(const Row& row) {
        return std::all_of(row.cells.begin(), row.cells.end(),
                           [](auto& cell) { return cell.first.type == SymbolType::Dummy; });
    }

    static Symbol anyPivotableSymbol(const Row& row) {
        for (auto& [symbol, coefficient] : row.cells)
            if (symbol.type == SymbolType::Slack || symbol.type == SymbolType::Error)
                return symbol;
        return {};
    }

    void substitute(const Symbol& symbol, const Row& row) {
        for (auto& [basic, basicRow] : rows) {
            basicRow.substitute(symbol, row);
            if (basic.type != SymbolType::External && basicRow.constant < 0.0)
                infeasibleRows.push_back(basic);
        }
        objective.substitute(symbol, row);
        if (artificial)
            artificial->substitute(symbol, row);
    }

    Symbol enteringSymbol(const Row& target) const {
        for (auto& [symbol, coefficient] : target.cells)
            if (symbol.type != SymbolType::Dummy && coefficient < 0.0)
                return symbol;
        return {};
    }

    std::map<Symbol, Row>::iterator leavingRow(const Symbol& entering) {
        double ratio = std::numeric_limits<double>::max();
        auto found = rows.end();
        for (auto it = rows.begin(); it != rows.end(); ++it) {
            if (it->first.type == SymbolType::External)
                continue;
            double coefficient = it->second.coefficientFor(entering);
            if (coefficient < 0.0) {
                double candidate = -it->second.constant / coefficient;
                if (candidate < ratio) {
                    ratio = candidate;
                    found = it;
                }
            }
        }
        return found;
    }

    void pivot(std::map<Symbol, Row>::iterator leavingIt, const Symbol& entering) {
        Symbol leaving = leavingIt->first;
        Row row = std::move(leavingIt->second);
        rows.erase(leavingIt);
        row.solveFor(leaving, entering);
        substitute(entering, row);
        rows[entering] = std::move(row);
    }

    void optimize(Row& target) {
        for (;;) {
            Symbol entering = enteringSymbol(target);
            if (!entering.valid())
                return;
            auto it = leavingRow(entering);
            if (it == rows.end())
                throw LayoutSolverError("the objective is unbounded");
            pivot(it, entering);
        }
    }

    bool addWithArtificialVariable(const Row& row) {
        Symbol art = makeSymbol(SymbolType::Slack);
        rows[art] = row;
        artificial = row;
        optimize(*artificial);
        bool success = nearZero(artificial->constant);
        artificial.reset();
        auto it = rows.find(art);
        if (it != rows.end()) {
            Row basic = std::move(it->second);
            rows.erase(it);
            if (basic.cells.empty())
                return success;
            Symbol entering = anyPivotableSymbol(basic);
            if (!entering.valid())
                return false;
            basic.solveFor(art, entering);
            substitute(entering, basic);
            rows[entering] = std::move(basic);
        }
        for (auto& entry : rows)
            entry.second.remove(art);
        objective.remove(art);
        return success;
    }

    void dualOptimize() {
        while (!infeasibleRows.empty()) {
            Symbol leaving = infeasibleRows.back();
            infeasibleRows.pop_back();
            auto it = rows.find(leaving);
            if (it == rows.end() || nearZero(it->second.constant) || it->second.constant >= 0.0)
                continue;
            Symbol entering = dualEnteringSymbol(it->second);
            if (!entering.valid())
                throw LayoutSolverError("the dual optimisation failed");
            pivot(it, entering);
        }
    }

    Symbol dualEnteringSymbol(const Row& row) const {
        Symbol entering;
        double ratio = std::numeric_limits<double>::max();
        for (auto& [symbol, coefficient] : row.cells) {
            if (coefficient > 0.0 && symbol.type != SymbolType::Dummy) {
                double candidate = objective.coefficientFor(symbol) / coefficient;
                if (candidate < ratio) {
                    ratio = candidate;
                    entering = symbol;
                }
            }
        }
        return entering;
    }

    std::map<Symbol, Row>::iterator markerLeavingRow(const Symbol& marker) {
        double r1 = std::numeric_limits<double>::max();
        double r2 = r1;
        auto end = rows.end();
        auto first = end, second = end, third = end;
        for (auto it = rows.begin(); it != end; ++it) {
            double coefficient = it->second.coefficientFor(marker);
            if (coefficient == 0.0)
                continue;
            if (it->first.type == SymbolType::External) {
                third = it;
            } else if (coefficient < 0.0) {
                double r = -it->second.constant / coefficient;
                if (r < r1) {
                    r1 = r;
                    first = it;
                }
            } else {
                double r = it->second.constant / coefficient;
                if (r < r2) {
                    r2 = r;
                    second = it;
                }
            }
        }
        if (first != end)
            return first;
        if (second != end)
            return second;
        return third;
    }

    void removeMarkerEffects(const Symbol& marker, double strength) {
        auto it = rows.find(marker);
        if (it != rows.end())
            objective.insert(it->second, -strength);
        else
            objective.insert(marker, -strength);
    }

    void add(const LayoutConstraint& constraint) {
        if (constraints.count(constraint.identity()))
            throw LayoutSolverError("duplicate constraint");
        Tag tag;
        Row row = createRow(constraint, tag);
        Symbol subject = chooseSubject(row, tag);
        if (!subject.valid() && allDummies(row)) {
            if (!nearZero(row.constant))
                throw LayoutSolverError("unsatisfiable constraint");
            subject = tag.marker;
        }
        if (!subject.valid()) {
            // The artificial-variable phase pivots the tableau before it knows whether the row fits, so a
            // failure restores the state from before the attempt.
            auto savedRows = rows;
            auto savedObjective = objective;
            auto savedInfeasible = infeasibleRows;
            if (!addWithArtificialVariable(row)) {
                rows = std::move(savedRows);
                objective = std::move(savedObjective);
                infeasibleRows = std::move(savedInfeasible);
                throw LayoutSolverError("unsatisfiable constraint");
            }
        } else {
            row.solveFor(subject);
            substitute(subject, row);
            rows[subject] = std::move(row);
        }
        constraints.emplace(constraint.identity(), std::make_pair(constraint, tag));
        optimize(objective);
    }

    void remove(const LayoutConstraint& constraint) {
        auto found = constraints.find(constraint.identity());
        if (found == constraints.end())
            throw LayoutSolverError("unknown constraint");
        Tag tag = found->second.second;
        double strength = found->second.first.strength();
        constraints.erase(found);
        if (tag.marker.type == SymbolType::Error)
            removeMarkerEffects(tag.marker, strength);
        if (tag.other.type == SymbolType::Error)
            removeMarkerEffects(tag.other, strength);
        auto it = rows.find(tag.marker);
        if (it != rows.end()) {
            rows.erase(it);
        } else {
            auto leaving = markerLeavingRow(tag.marker);
            if (leaving == rows.end())
                throw LayoutSolverError("failed to find a leaving row");
            pivot(leaving, tag.marker);
        }
        optimize(objective);
    }
};

LayoutSolver::LayoutSolver()
    : m_impl(std::make_unique<Impl>()) {}

LayoutSolver::~LayoutSolver() = default;

void LayoutSolver::addConstraint(const LayoutConstraint& constraint) {
    m_impl->add(constraint);
}

void LayoutSolver::removeConstraint(const LayoutConstraint& constraint) {
    m_impl->remove(constraint);
}

bool LayoutSolver::hasConstraint(const LayoutConstraint& constraint) const {
    return m_impl->constraints.count(constraint.identity()) != 0;
}

void LayoutSolver::addEditVariable(const LayoutVariable& variable, double strength) {
    if (m_impl->edits.count(variable.identity()))
        throw LayoutSolverError("duplicate edit variable");
    strength = std::clamp(strength, 0.0, LayoutStrength::required);
    if (strength >= LayoutStrength::required)
        throw LayoutSolverError("an edit variable cannot be required");
    LayoutConstraint constraint(LayoutExpression(variable), LayoutRelation::Equal, strength);
    m_impl->add(constraint);
    Tag tag = m_impl->constraints.at(constraint.identity()).second;
    m_impl->edits.emplace(variable.identity(), EditInfo{tag, constraint, 0.0});
}

void LayoutSolver::removeEditVariable(const LayoutVariable& variable) {
    auto it = m_impl->edits.find(variable.identity());
    if (it == m_impl->edits.end())
        throw LayoutSolverError("unknown edit variable");
    m_impl->remove(it->second.constraint);
    m_impl->edits.erase(it);
}

bool LayoutSolver::hasEditVariable(const LayoutVariable& variable) const {
    return m_impl->edits.count(variable.identity()) != 0;
}

void LayoutSolver::suggestValue(const LayoutVariable& variable, double value) {
    auto it = m_impl->edits.find(variable.identity());
    if (it == m_impl->edits.end())
        throw LayoutSolverError("unknown edit variable");
    EditInfo& info = it->second;
    double delta = value - info.constant;
    info.constant = value;
    auto& rows = m_impl->rows;
    auto& infeasible = m_impl->infeasibleRows;
    auto marker = rows.find(info.tag.marker);
    if (marker != rows.end()) {
        if (marker->second.add(-delta) < 0.0)
            infeasible.push_back(marker->first);
    } else {
        auto other = rows.find(info.tag.other);
        if (other != rows.end()) {
            if (other->second.add(delta) < 0.0)
                infeasible.push_back(other->first);
        } else {
            for (auto& [symbol, row] : rows) {
                double coefficient = row.coefficientFor(info.tag.marker);
                if (coefficient != 0.0 && row.add(delta * coefficient) < 0.0 &&
                    symbol.type != SymbolType::External)
                    infeasible.push_back(symbol);
            }
        }
    }
    m_impl->dualOptimize();
}

void LayoutSolver::updateVariables() {
    for (auto& [identity, entry] : m_impl->variables) {
        auto it = m_impl->rows.find(entry.second);
        double value = it == m_impl->rows.end() ? 0.0 : it->second.constant;
        entry.first.setValue(value == 0.0 ? 0.0 : value); // no negative zero
    }
}

void LayoutSolver::reset() {
    m_impl = std::make_unique<Impl>();
}

} // namespace platform
