// Running a piece of a test as an ordinary user: root may write into any
// folder, so checks of folder permissions run as nobody when the tests run
// as root, and in place otherwise.
#pragma once

#include <functional>
#include <string>

namespace qxtest {

// Gives path to the user that asOrdinaryUser runs as (nothing to do unless
// root); false when that failed.
bool ownAsOrdinaryUser(const std::string& path);
// fn's result; as root fn runs in a child that has become nobody, and its
// result (0 to 255) is the child's exit status, -1 when the child failed.
int asOrdinaryUser(const std::function<int()>& fn);

}  // namespace qxtest
