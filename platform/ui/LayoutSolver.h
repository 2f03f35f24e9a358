#pragma once
// An incremental Cassowary solver: linear equalities and inequalities over double variables, each either
// required or optional with a strength; the optional ones are satisfied as well as their strengths allow
// (the weighted sum of their errors is minimised). Constraints and edit variables can be added and removed
// one at a time without re-solving from scratch, and suggestValue moves an edit variable through the dual
// simplex. Variable values are only written by updateVariables. Not thread-safe; one solver per layout.
//
//     LayoutVariable x("x");
//     LayoutSolver solver;
//     solver.addConstraint(LayoutConstraint(LayoutExpression(x) - 10, LayoutRelation::GreaterOrEqual));
//     solver.updateVariables();  // x.value() == 10

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

namespace LayoutStrength {
inline constexpr double required = 1001001000.0;
inline constexpr double strong = 1000000.0;
inline constexpr double medium = 1000.0;
inline constexpr double weak = 1.0;
} // namespace LayoutStrength

// A variable is a shared handle: copies name the same variable.
class LayoutVariable {
public:
    explicit LayoutVariable(std::string name = {})
        : m_data(std::make_shared<Data>(Data{std::move(name), 0})) {}
    const std::string& name() const { return m_data->name; }
    double value() const { return m_data->value; }
    void setValue(double value) { m_data->value = value; }
    const void* identity() const { return m_data.get(); }
    friend bool operator==(const LayoutVariable& a, const LayoutVariable& b) { return a.m_data == b.m_data; }
    friend bool operator<(const LayoutVariable& a, const LayoutVariable& b) { return a.m_data < b.m_data; }

private:
    struct Data {
        std::string name;
        double value;
    };
    std::shared_ptr<Data> m_data;
};

struct LayoutTerm {
    LayoutVariable variable;
    double coefficient{1};
};

// A linear expression: sum of terms plus a constant.
struct LayoutExpression {
    LayoutExpression(double constant = 0)
        : constant(constant) {}
    LayoutExpression(const LayoutVariable& variable)
        : terms{{variable, 1}} {}
    LayoutExpression(std::vector<LayoutTerm> terms, double constant)
        : terms(std::move(terms))
        , constant(constant) {}
    double value() const;

    std::vector<LayoutTerm> terms;
    double constant{0};
};

LayoutExpression operator+(LayoutExpression a, const LayoutExpression& b);
LayoutExpression operator-(LayoutExpression a, const LayoutExpression& b);
LayoutExpression operator*(LayoutExpression a, double factor);
LayoutExpression operator*(double factor, LayoutExpression a);

enum class LayoutRelation { LessOrEqual, Equal, GreaterOrEqual };

// `expression relation 0` at a strength (clipped to 0...required). Copies share identity.
class LayoutConstraint {
public:
    LayoutConstraint(const LayoutExpression& expression, LayoutRelation relation,
                     double strength = LayoutStrength::required);
    // lhs relation rhs.
    LayoutConstraint(const LayoutExpression& lhs, LayoutRelation relation, const LayoutExpression& rhs,
                     double strength = LayoutStrength::required);
    const LayoutExpression& expression() const { return m_data->expression; }
    LayoutRelation relation() const { return m_data->relation; }
    double strength() const { return m_data->strength; }
    const void* identity() const { return m_data.get(); }
    friend bool operator<(const LayoutConstraint& a, const LayoutConstraint& b) {
        return a.m_data < b.m_data;
    }

private:
    struct Data {
        LayoutExpression expression;
        LayoutRelation relation;
        double strength;
    };
    std::shared_ptr<Data> m_data;
};

// Thrown for a required constraint that cannot be satisfied together with the others, a duplicate or
// unknown constraint or edit variable, or a required edit strength. The solver is left unchanged.
class LayoutSolverError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class LayoutSolver {
public:
    LayoutSolver();
    ~LayoutSolver();
    LayoutSolver(const LayoutSolver&) = delete;
    LayoutSolver& operator=(const LayoutSolver&) = delete;

    void addConstraint(const LayoutConstraint& constraint);
    void removeConstraint(const LayoutConstraint& constraint);
    bool hasConstraint(const LayoutConstraint& constraint) const;

    // An edit variable takes suggested values at a (non-required) strength.
    void addEditVariable(const LayoutVariable& variable, double strength);
    void removeEditVariable(const LayoutVariable& variable);
    bool hasEditVariable(const LayoutVariable& variable) const;
    void suggestValue(const LayoutVariable& variable, double value);

    // Writes the current solution into every variable the solver knows.
    void updateVariables();
    void reset();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace platform
