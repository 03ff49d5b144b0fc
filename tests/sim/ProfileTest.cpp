// The profile tables: what the host's walks and loops rely on must hold for every unit.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "Profile.h"

namespace morlen::sim {
namespace {

TEST(Profiles, NamesAreUniqueShortAndLowerCase) {
    std::vector<std::string> names;
    for (const Profile& p : Profiles()) {
        names.push_back(p.name);
        EXPECT_FALSE(p.name.empty());
        EXPECT_LE(p.name.size(), 12u) << p.name;
        for (char c : p.name)
            EXPECT_TRUE((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-') << p.name;
        EXPECT_EQ(FindProfile(p.name), &p);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
    EXPECT_EQ(FindProfile("nonesuch"), nullptr);
}

TEST(Profiles, ModelCodesRiseAlongTheTable) {
    // A model-code walk compares codes as text and steps "+" while below its target, so "+"
    // must raise the code; the starting row must exist.
    for (const Profile& p : Profiles()) {
        ASSERT_FALSE(p.models.empty()) << p.name;
        EXPECT_LT(p.modelIndex, p.models.size()) << p.name;
        for (std::size_t i = 1; i < p.models.size(); ++i)
            EXPECT_LT(p.models[i - 1].code, p.models[i].code) << p.name << " row " << i;
        if (p.hasCodeWalk) {
            EXPECT_LE(p.modelCodeFirst, p.models[p.modelIndex].code) << p.name;
            EXPECT_GE(p.modelCodeLast, p.models[p.modelIndex].code) << p.name;
        }
    }
}

TEST(Profiles, ModelNamesCarryTheRatingAndFitTheReply) {
    for (const Profile& p : Profiles()) {
        for (const ModelRow& row : p.models) {
            const auto digits = std::count_if(row.name.begin(), row.name.end(),
                                              [](char c) { return c >= '0' && c <= '9'; });
            EXPECT_GE(digits, 3) << p.name << " " << row.name;
            EXPECT_LE(row.name.size(), 20u) << row.name;
            if (p.generation != Generation::Second) {
                EXPECT_LE(row.firmware.size(), 8u) << row.firmware;  // "b" is read with 8
                EXPECT_GE(row.firmware.size(), 5u) << row.firmware;
            }
        }
    }
}

TEST(Profiles, SelfTestIntervalCanReachOff) {
    // Switching the self-test off steps "E" until it reads "OFF": a unit without that value
    // would keep the connection step going for ever.
    // Two profiles lack it on purpose, so that the switch-off's bound can be seen at work.
    const std::set<std::string> without = {"gen2-test-on", "gen2-no-e"};
    for (const Profile& p : Profiles()) {
        if (!p.hasSettings || without.count(p.name) != 0)
            continue;
        const auto it = std::find_if(p.settings.begin(), p.settings.end(),
                                     [](const Setting& s) { return s.command == 'E'; });
        ASSERT_NE(it, p.settings.end()) << p.name;
        EXPECT_NE(std::find(it->values.begin(), it->values.end(), "OFF"), it->values.end());
    }
}

TEST(Profiles, SettingValuesHaveOneWidthAndAValidFactoryValue) {
    for (const Profile& p : Profiles()) {
        for (const Setting& s : p.settings) {
            ASSERT_FALSE(s.values.empty()) << p.name << " " << s.command;
            EXPECT_LT(s.factory, s.values.size()) << p.name << " " << s.command;
            for (const auto& v : s.values)
                EXPECT_EQ(v.size(), s.values.front().size()) << p.name << " " << s.command;
        }
    }
}

// Splits a capability string into its groups; whatever does not parse is left in `rest`.
struct Group {
    char command, locale;
    std::vector<std::string> values;
};
std::vector<Group> ParseCapabilities(const std::string& caps, std::string& rest) {
    std::vector<Group> groups;
    std::size_t i = 1;  // after "#"
    while (i + 4 <= caps.size()) {
        const int n = caps[i + 2] - '0';
        const int w = caps[i + 3] - '0';
        if (n < 1 || n > 9 || w < 1 || w > 9 || i + 4 + std::size_t(n * w) > caps.size())
            break;
        Group g{caps[i], caps[i + 1], {}};
        for (int k = 0; k < n; ++k)
            g.values.push_back(caps.substr(i + 4 + std::size_t(k * w), std::size_t(w)));
        groups.push_back(g);
        i += 4 + std::size_t(n * w);
    }
    rest = caps.substr(std::min(i, caps.size()));
    return groups;
}

TEST(Capabilities, ListTheValuesTheUnitCyclesThrough) {
    for (const Profile& p : Profiles()) {
        if (p.capabilities.empty())
            continue;
        ASSERT_EQ(p.capabilities.front(), '#') << p.name;
        std::string rest;
        const auto groups = ParseCapabilities(p.capabilities, rest);
        for (const Setting& s : p.settings) {
            const bool perLocale = s.command == 'u' || s.command == 'l' || s.command == 'o';
            const char locale = perLocale ? p.locale : '4';
            const auto g = std::find_if(groups.begin(), groups.end(), [&](const Group& x) {
                return x.command == s.command && x.locale == locale;
            });
            if (s.command == 's' && p.generation != Generation::Third) {
                EXPECT_EQ(g, groups.end()) << p.name;  // older units leave sensitivity out
                continue;
            }
            ASSERT_NE(g, groups.end()) << p.name << " " << s.command;
            EXPECT_EQ(g->values, s.values) << p.name << " " << s.command;
        }
        if (p.name == "su1000rm")
            EXPECT_EQ(rest, "H02L018");
        else
            EXPECT_EQ(rest, "") << p.name;
    }
}

TEST(Capabilities, DomesticAndInternationalGroupsLikeRealUnits) {
    const std::string caps =
        CapabilityString(StandardSettings('I', Generation::First), Generation::First);
    EXPECT_EQ(caps.rfind("#uD43127130133136uI43253257261265lD43", 0), 0u) << caps;
    EXPECT_NE(caps.find("lI43208204200196"), std::string::npos);
    EXPECT_NE(caps.find("E443336168ON OFF"), std::string::npos);
}

}  // namespace
}  // namespace morlen::sim
