// A record that travels as one flat JSON object names its keys once, as a tuple of JsonField
// (key, member), and both its writer and its reader walk that list: the keys cannot drift apart
// between the two, and the writer keeps the listed order.
#pragma once

#include <tuple>

template <class Record, class T>
struct CJsonField {
    const char* key;
    T Record::*member;
};

template <class Record, class T>
constexpr CJsonField<Record, T> JsonField(const char* key, T Record::*member) {
    return {key, member};
}

// Calls visit(key, member) for each field of `record` (const or not), in the order listed.
template <class Record, class Fields, class Visit>
void ForEachJsonField(Record& record, const Fields& fields, Visit&& visit) {
    std::apply([&](const auto&... field) { (visit(field.key, record.*(field.member)), ...); }, fields);
}
