#include "View.h"

namespace morlen {

namespace {

#define MORLEN_VIEW_NAME(name) #name,
constexpr const char* kFieldNames[] = {MORLEN_VIEW_FIELDS(MORLEN_VIEW_NAME)};
constexpr const char* kBarNames[] = {MORLEN_VIEW_BARS(MORLEN_VIEW_NAME)};
#undef MORLEN_VIEW_NAME

}  // namespace

const char* NameOf(Field field) {
    return kFieldNames[static_cast<int>(field)];
}

const char* NameOf(Bar bar) {
    return kBarNames[static_cast<int>(bar)];
}

}  // namespace morlen
