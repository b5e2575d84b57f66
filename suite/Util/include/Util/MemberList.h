// A record's members visited by name, for code that reads or writes records member by member (JSON
// forms, counter snapshots): the list is written once and serves both directions, and a key cannot
// drift from its member's name.
//
//   KVA_FOR_EACH_MEMBER(visit, strUrl, FileSize);
//
// calls visit("strUrl", get) then visit("FileSize", get), where get(obj) is obj.strUrl, a reference
// (const when obj is). Up to 63 members.
#pragma once

#define KVA_FOR_EACH_MEMBER(visit, ...) __VA_OPT__(KVA_MEMBERS_EXPAND(KVA_MEMBERS_STEP(visit, __VA_ARGS__)))

#define KVA_MEMBERS_STEP(visit, member, ...)                        \
    visit(#member, [](auto& obj) -> auto& { return obj.member; }); \
    __VA_OPT__(KVA_MEMBERS_AGAIN KVA_MEMBERS_PARENS(visit, __VA_ARGS__))
#define KVA_MEMBERS_AGAIN() KVA_MEMBERS_STEP
#define KVA_MEMBERS_PARENS ()

// Each level rescans four times what the level below does: 64 rescans, one per member.
#define KVA_MEMBERS_EXPAND(...) KVA_MEMBERS_X3(KVA_MEMBERS_X3(KVA_MEMBERS_X3(KVA_MEMBERS_X3(__VA_ARGS__))))
#define KVA_MEMBERS_X3(...) KVA_MEMBERS_X2(KVA_MEMBERS_X2(KVA_MEMBERS_X2(KVA_MEMBERS_X2(__VA_ARGS__))))
#define KVA_MEMBERS_X2(...) KVA_MEMBERS_X1(KVA_MEMBERS_X1(KVA_MEMBERS_X1(KVA_MEMBERS_X1(__VA_ARGS__))))
#define KVA_MEMBERS_X1(...) __VA_ARGS__

namespace suite {

// A record of plain values read from `live`, whose members of the same names have load() (atomic
// counters): `members(visit)` lists them with KVA_FOR_EACH_MEMBER.
template <class Record, class Live, class Members>
Record LoadMembers(const Live& live, Members&& members) {
    Record record;
    members([&](const char*, auto member) { member(record) = member(live).load(); });
    return record;
}

}  // namespace suite
