// The name walk on a folder tree of the test's own, so that its rules are tested on every
// platform.
#include "platform/name_walk.hpp"

#include "platform/name_rules.hpp"

#include <gtest/gtest.h>

#include <set>

namespace graygif {
namespace {

// Every entry by its full name, folders included.
struct Tree {
    std::set<std::string> entries;
    int listings = 0;
};

bool tree_has(void* context, const std::string& name) {
    std::string entry = name;
    if (entry.size() > 1 && entry.back() == '/') entry.pop_back(); // a folder named with a '/'
    return static_cast<Tree*>(context)->entries.count(entry) != 0;
}

// Lists in descending byte order: the walk's choice must not depend on the listing's order.
void tree_list(void* context, const std::string& folder, std::vector<std::string>& names) {
    Tree& tree = *static_cast<Tree*>(context);
    ++tree.listings;
    const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + '/';
    for (auto it = tree.entries.rbegin(); it != tree.entries.rend(); ++it) {
        if (it->size() > prefix.size() && it->starts_with(prefix) &&
            it->find('/', prefix.size()) == std::string::npos)
            names.push_back(it->substr(prefix.size()));
    }
}

TEST(NameWalk, ExactlyAsTypedFirstThenTheSmallestEqualButForCase) {
    Tree tree{{"/Sub", "/Sub/Deeper", "/Sub/Deeper/data.txt", "/sub", "/a.dat", "/A.DAT", "/B.dat",
               "/b.DAT", "/v1.2:x\\y.dat", "rel.DAT"}};
    const FolderAccess access{&tree, tree_has, tree_list};
    const std::pair<std::string, std::string> cases[] = {
        {"/SUB/DEEPER/DATA.TXT", "/Sub/Deeper/data.txt"},
        {"/sub/Deeper/data.txt", ""}, // the folder as typed comes first, and holds no Deeper
        {"//Sub//DEEPER/", "/Sub/Deeper/"},
        {"/a.dat", "/a.dat"},
        {"/A.DAT", "/A.DAT"},
        {"/a.DAT", "/A.DAT"},
        {"/b.dat", "/B.dat"},
        {"/V1.2:X\\Y.DAT", "/v1.2:x\\y.dat"},
        {"/SUB\\DEEPER", ""}, // only '/' separates folders here
        {"REL.dat", "rel.DAT"},
        {"/NOSUCH/DATA.TXT", ""},
        {"", ""},
    };
    NameIndex index;
    for (const auto& [typed, expected] : cases) {
        std::string resolved;
        EXPECT_EQ(walk_existing_name(typed, posix_path_separators, access, index, resolved),
                  !expected.empty())
            << typed;
        if (!expected.empty()) {
            EXPECT_EQ(resolved, expected) << typed;
        }
    }
    // A folder is listed once; what the run creates later is made known to the index.
    const int listings = tree.listings;
    tree.entries.insert({"/NEW.gif", "/OTHER.gif", "/Sub/Deeper/new.gif"});
    index_new_name(index, "/NEW.gif", '/');
    index_new_name(index, "/Sub/Deeper/new.gif", '/');
    std::string resolved;
    EXPECT_TRUE(walk_existing_name("/new.GIF", posix_path_separators, access, index, resolved));
    EXPECT_EQ(resolved, "/NEW.gif");
    EXPECT_FALSE(walk_existing_name("/other.GIF", posix_path_separators, access, index, resolved));
    EXPECT_EQ(tree.listings, listings);
    index_new_name(index, "/a.dat", '/'); // the smallest of the equal names stays
    EXPECT_TRUE(walk_existing_name("/a.Dat", posix_path_separators, access, index, resolved));
    EXPECT_EQ(resolved, "/A.DAT");
}

} // namespace
} // namespace graygif
