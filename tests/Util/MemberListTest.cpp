// Records visited member by member from one list, and the base of the suite's singletons.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "Util/MemberList.h"
#include "Util/Singleton.h"

namespace {

struct CRecord {
    std::string name;
    int count = 0;
    std::vector<std::string> tags;
};

template <class Visit>
void RecordMembers(Visit&& visit) {
    KVA_FOR_EACH_MEMBER(visit, name, count, tags);
}

TEST(MemberListTest, EachMemberIsVisitedInListOrderUnderItsOwnName) {
    const CRecord from{"disk", 3, {"a", "b"}};
    CRecord to;
    std::vector<std::string> keys;
    RecordMembers([&](const char* key, auto member) {
        static_assert(std::is_const_v<std::remove_reference_t<decltype(member(from))>>);
        keys.push_back(key);
        member(to) = member(from);
    });
    EXPECT_EQ(keys, (std::vector<std::string>{"name", "count", "tags"}));
    EXPECT_EQ(to.name, "disk");
    EXPECT_EQ(to.count, 3);
    EXPECT_EQ(to.tags, from.tags);
}

TEST(MemberListTest, LoadMembersSnapshotsLiveCountersIntoTheSameNames) {
    struct CLive {
        std::atomic<std::uint64_t> sent{0}, lost{0}, late{0};
    } live;
    struct CSnapshot {
        std::uint64_t sent = 0, lost = 0, late = 0;
    };
    live.sent = 5;
    live.lost = 2;
    live.late = 9;
    // Listed out of declaration order: names, not positions, pair the members.
    const auto s =
        suite::LoadMembers<CSnapshot>(live, [](auto&& visit) { KVA_FOR_EACH_MEMBER(visit, late, sent, lost); });
    EXPECT_EQ(s.sent, 5u);
    EXPECT_EQ(s.lost, 2u);
    EXPECT_EQ(s.late, 9u);
}

int g_built = 0;

template <suite::ELifetime Life>
class CCounted : public suite::CSingleton<CCounted<Life>, Life> {
public:
    static CCounted& Get() { return CCounted::TheInstance(); }
    CCounted() { ++g_built; }
};

TEST(SingletonTest, EachLifetimeBuildsOneInstanceOnFirstUseAndHandsItOutAfterwards) {
    CCounted<suite::ELifetime::UntilExit>& a = CCounted<suite::ELifetime::UntilExit>::Get();
    CCounted<suite::ELifetime::Immortal>& b = CCounted<suite::ELifetime::Immortal>::Get();
    EXPECT_EQ(&CCounted<suite::ELifetime::UntilExit>::Get(), &a);
    EXPECT_EQ(&CCounted<suite::ELifetime::Immortal>::Get(), &b);
    EXPECT_EQ(g_built, 2);
}

}  // namespace
