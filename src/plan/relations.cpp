// The relation tests between package records. All functions are pure;
// names compare byte for byte and versions as plain unsigned 32-bit integers.

#include "plan/relations.h"


namespace {

// One step of compare_packages on two records of the same name: version first, then the build
// time stamp, so that a rebuild of the same version counts as newer.
int compare_same_name(const Package& x, const Package& y) {
    if (x.version != y.version) return x.version > y.version ? 1 : -1;
    if (x.buildTime != y.buildTime) return x.buildTime > y.buildTime ? 1 : -1;
    return 0;
}

const Package* member_named(const Package& bundle, const std::string& name) {
    for (const auto& m : bundle.members)
        if (m->name == name) return m.get();
    return nullptr;
}

}  // namespace

bool satisfies(const Package& p, const Dependency& d) {
    return p.name == d.name && p.version >= d.min && (d.max == 0 || p.version <= d.max);
}

bool ranges_overlap(const Dependency& e, const Dependency& d) {
    if (e.name != d.name) return false;
    if (e.min != 0 && d.max != 0 && e.min > d.max) return false;
    if (e.max != 0 && d.min != 0 && e.max < d.min) return false;
    return true;
}

bool provides_for(const Package& p, const Dependency& d) {
    for (const Dependency& e : p.provides)
        if (ranges_overlap(e, d)) return true;
    return false;
}

bool depends_on(const Package& a, const Package& b) {
    for (const Dependency& d : a.depends)
        if (satisfies(b, d) || provides_for(b, d)) return true;
    for (const auto& m : b.members)
        if (depends_on(a, *m)) return true;
    for (const auto& m : a.members)
        if (depends_on(*m, b)) return true;
    return false;
}

bool conflicts_with(const Package& a, const Package& b) {
    if (a.is_placeholder() || b.is_placeholder()) return false;
    for (const Dependency& c : a.conflicts)
        if (satisfies(b, c)) return true;
    // b taking over a's name: only a negative priority makes it a conflict from a's side.
    for (const Dependency& e : b.provides)
        if (e.name == a.name) return e.priority < 0;
    // a taking over b's name, or both providing one name: the higher priority wins the name.
    for (const Dependency& e : a.provides) {
        if (e.name == b.name) return e.priority >= 0;
        for (const Dependency& f : b.provides)
            if (f.name == e.name) return e.priority > f.priority;
    }
    for (const Dependency& c : a.conflicts)
        if (provides_for(b, c)) return true;
    for (const auto& m : b.members)
        if (m->name == a.name) return true;
    for (const auto& m : a.members)
        if (conflicts_with(*m, b)) return true;
    return false;
}

bool has_name_or_member(const Package& p, const std::string& name) {
    return p.name == name || member_named(p, name) != nullptr;
}

int compare_packages(const Package& a, const Package& b, bool reversed) {
    const Package* x = &a;
    const Package* y = &b;
    int sign = 1;
    int result = 0;
    // Each hop lands on a record named like the other side, so at most one hop is taken.
    for (;;) {
        if (x->name == y->name) {
            result = sign * compare_same_name(*x, *y);
            break;
        }
        if (const Package* m = member_named(*x, y->name)) {
            x = m;
            continue;
        }
        if (const Package* m = member_named(*y, x->name)) {
            y = x;
            x = m;
            sign = -sign;
            continue;
        }
        break;
    }
    return reversed ? -result : result;
}
