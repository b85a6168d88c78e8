#pragma once

#include <memory>

#include <rpm/header.h>
#include <rpm/rpmds.h>
#include <rpm/rpmfi.h>
#include <rpm/rpmio.h>
#include <rpm/rpmtd.h>
#include <rpm/rpmts.h>

// Owning handles for the librpm objects the validator creates: every path
// out of a function, exceptions included, releases them.
namespace Common::Rpm {

struct FdCloser {
    void operator()(FD_t fd) const { Fclose(fd); }
};
struct HeaderFreer {
    void operator()(Header h) const { headerFree(h); }
};
struct TsFreer {
    void operator()(rpmts ts) const { rpmtsFree(ts); }
};
struct TdFreer {
    void operator()(rpmtd td) const { rpmtdFree(td); }
};
struct DsFreer {
    void operator()(rpmds ds) const { rpmdsFree(ds); }
};
struct FiFreer {
    void operator()(rpmfi fi) const { rpmfiFree(fi); }
};

using FdHandle = std::unique_ptr<std::remove_pointer_t<FD_t>, FdCloser>;
using HeaderHandle = std::unique_ptr<std::remove_pointer_t<Header>, HeaderFreer>;
using TsHandle = std::unique_ptr<std::remove_pointer_t<rpmts>, TsFreer>;
using TdHandle = std::unique_ptr<std::remove_pointer_t<rpmtd>, TdFreer>;
using DsHandle = std::unique_ptr<std::remove_pointer_t<rpmds>, DsFreer>;
using FiHandle = std::unique_ptr<std::remove_pointer_t<rpmfi>, FiFreer>;

} // namespace Common::Rpm
