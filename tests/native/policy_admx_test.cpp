// The administrative template against the code that reads the policies:
// every policy of the ADMX writes a value the core's table reads, under the
// same key, with the same type and range, and every value of the table has
// its policy; every string and presentation the ADMX names is in the ADML.
// The XML is read minimally, element by element, with regular expressions.
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "policy.h"

namespace {

std::string read_file(const char *path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << "cannot read " << path;
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The attributes of one start tag, e.g. name="x" key="y".
std::map<std::string, std::string> attributes(const std::string &tag) {
  std::map<std::string, std::string> out;
  static const std::regex attr(R"re(([A-Za-z:]+)="([^"]*)")re");
  for (std::sregex_iterator i(tag.begin(), tag.end(), attr), end; i != end; ++i) out[(*i)[1]] = (*i)[2];
  return out;
}

// Every element <name ...> or <name .../> in text: its attributes and, for
// a non-empty element, what lies up to its end tag (elements of one name are
// not nested in these files).
struct element {
  std::map<std::string, std::string> attr;
  std::string body;
};

std::vector<element> elements(const std::string &text, const std::string &name) {
  std::vector<element> out;
  const std::regex start("<" + name + R"re((\s[^>]*?)?(/?)>)re");
  for (std::sregex_iterator i(text.begin(), text.end(), start), end; i != end; ++i) {
    element e;
    e.attr = attributes((*i)[1]);
    if ((*i)[2] == "") {
      size_t from = i->position() + i->length();
      size_t close = text.find("</" + name + ">", from);
      EXPECT_NE(close, std::string::npos) << "<" << name << "> is not closed";
      e.body = text.substr(from, close == std::string::npos ? 0 : close - from);
    }
    out.push_back(e);
  }
  return out;
}

// The numbers inside <enabledValue> or <disabledValue> of a policy.
std::vector<long> decimals_in(const std::string &body, const std::string &which) {
  std::vector<long> out;
  for (const element &w : elements(body, which))
    for (const element &d : elements(w.body, "decimal")) out.push_back(std::stol(d.attr.at("value")));
  return out;
}

int table_index(const std::string &value_name) {
  for (int id = 0; id < MJH_POLICY_COUNT; id++)
    if (value_name == mjh_policy_table(id).name) return id;
  return -1;
}

class Admx : public ::testing::Test {
 protected:
  std::string admx = read_file(MJ_ADMX), adml = read_file(MJ_ADML);
};

TEST_F(Admx, EveryPolicyWritesAValueTheCodeReadsWithTheSameTypeAndRange) {
  std::set<std::string> covered;
  const std::vector<element> policies = elements(admx, "policy");
  ASSERT_EQ(policies.size(), 5u);
  for (const element &p : policies) {
    const std::string name = p.attr.at("name");
    SCOPED_TRACE(name);
    EXPECT_EQ(p.attr.at("key"), MJH_POLICY_KEY);
    EXPECT_TRUE(p.attr.at("class") == "Both" || p.attr.at("class") == "Machine" || p.attr.at("class") == "User");
    EXPECT_EQ(p.attr.count("key"), 1u);
    if (p.attr.count("valueName")) {
      // An on/off policy: its enabled and disabled values are DWORDs in range.
      int id = table_index(p.attr.at("valueName"));
      ASSERT_GE(id, 0) << "the code reads no value " << p.attr.at("valueName");
      const mjh_policy_def &def = mjh_policy_table(id);
      EXPECT_EQ(def.type, MJH_VALUE_NUMBER);
      std::vector<long> on = decimals_in(p.body, "enabledValue"), off = decimals_in(p.body, "disabledValue");
      ASSERT_EQ(on.size(), 1u);
      ASSERT_EQ(off.size(), 1u);
      for (long v : {on[0], off[0]}) {
        EXPECT_GE(v, (long)def.min);
        EXPECT_LE(v, (long)def.max);
      }
      EXPECT_EQ(on[0], 1);
      EXPECT_EQ(off[0], 0);
      EXPECT_TRUE(covered.insert(def.name).second) << "two policies write " << def.name;
    }
    for (const element &d : elements(p.body, "decimal")) {
      if (!d.attr.count("valueName")) continue;  // a value of enabledValue/disabledValue
      int id = table_index(d.attr.at("valueName"));
      ASSERT_GE(id, 0) << "the code reads no value " << d.attr.at("valueName");
      const mjh_policy_def &def = mjh_policy_table(id);
      EXPECT_EQ(def.type, MJH_VALUE_NUMBER);
      EXPECT_EQ(std::stoul(d.attr.at("minValue")), def.min);
      EXPECT_EQ(std::stoul(d.attr.at("maxValue")), def.max);
      EXPECT_EQ(d.attr.count("storeAsText"), 0u) << "stored as a DWORD";
      EXPECT_TRUE(covered.insert(def.name).second) << "two policies write " << def.name;
    }
    for (const element &t : elements(p.body, "text")) {
      int id = table_index(t.attr.at("valueName"));
      ASSERT_GE(id, 0) << "the code reads no value " << t.attr.at("valueName");
      const mjh_policy_def &def = mjh_policy_table(id);
      EXPECT_EQ(def.type, MJH_VALUE_TEXT);
      EXPECT_EQ(std::stoul(t.attr.at("maxLength")), def.max_length);
      EXPECT_EQ(t.attr.count("expandable"), 0u) << "stored as REG_SZ";
      EXPECT_TRUE(covered.insert(def.name).second) << "two policies write " << def.name;
    }
  }
  for (int id = 0; id < MJH_POLICY_COUNT; id++)
    EXPECT_TRUE(covered.count(mjh_policy_table(id).name)) << "no policy writes " << mjh_policy_table(id).name;
}

TEST_F(Admx, EveryStringAndPresentationIsInTheAdml) {
  std::set<std::string> strings, presentations;
  for (const element &s : elements(adml, "string")) EXPECT_TRUE(strings.insert(s.attr.at("id")).second);
  std::map<std::string, std::set<std::string>> refs;  // presentation -> the element ids it shows
  for (const element &p : elements(adml, "presentation")) {
    presentations.insert(p.attr.at("id"));
    static const std::regex ref(R"re(refId="([^"]*)")re");
    for (std::sregex_iterator i(p.body.begin(), p.body.end(), ref), end; i != end; ++i)
      refs[p.attr.at("id")].insert((*i)[1]);
  }
  static const std::regex use(R"re(\$\((string|presentation)\.([A-Za-z0-9_]+)\))re");
  int uses = 0;
  for (std::sregex_iterator i(admx.begin(), admx.end(), use), end; i != end; ++i, ++uses) {
    if ((*i)[1] == "string")
      EXPECT_TRUE(strings.count((*i)[2])) << "the ADML has no string " << (*i)[2];
    else
      EXPECT_TRUE(presentations.count((*i)[2])) << "the ADML has no presentation " << (*i)[2];
  }
  EXPECT_GT(uses, 10);

  // A policy's presentation shows each of its elements, and nothing else.
  for (const element &p : elements(admx, "policy")) {
    std::set<std::string> ids;
    static const std::regex id(R"re(<(?:decimal|text)\s+id="([^"]*)")re");
    for (std::sregex_iterator i(p.body.begin(), p.body.end(), id), end; i != end; ++i) ids.insert((*i)[1]);
    if (!p.attr.count("presentation")) {
      EXPECT_TRUE(ids.empty()) << p.attr.at("name") << " has elements but no presentation";
      continue;
    }
    std::smatch m;
    const std::string presentation = p.attr.at("presentation");
    ASSERT_TRUE(std::regex_match(presentation, m, std::regex(R"re(\$\(presentation\.(.+)\))re")));
    EXPECT_EQ(refs[m[1]], ids) << p.attr.at("name");
  }

  // Categories and supportedOn references resolve.
  std::set<std::string> categories, supported;
  for (const element &c : elements(admx, "category")) categories.insert(c.attr.at("name"));
  for (const element &d : elements(admx, "definition")) supported.insert(d.attr.at("name"));
  for (const element &r : elements(admx, "parentCategory")) EXPECT_TRUE(categories.count(r.attr.at("ref")));
  for (const element &p : elements(admx, "policy")) {
    for (const element &s : elements(p.body, "supportedOn")) EXPECT_TRUE(supported.count(s.attr.at("ref")));
  }
}

}  // namespace
