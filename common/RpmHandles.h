#pragma once

// Owning handles for librpm objects, shared by the validator, the signature
// library and the signing tool. librpm's handle types are pointer typedefs;
// a handle owns what they point to, and its deleter is an empty struct, so
// a handle is exactly one pointer wide.

#include <memory>
#include <type_traits>

#include <rpm/header.h>
#include <rpm/rpmds.h>
#include <rpm/rpmfi.h>
#include <rpm/rpmfiles.h>
#include <rpm/rpmio.h>
#include <rpm/rpmkeyring.h>
#include <rpm/rpmtd.h>
#include <rpm/rpmts.h>

namespace Common::Rpm {

template <auto FreeFunction>
struct Deleter {
    template <typename T>
    void operator()(T* object) const noexcept { FreeFunction(object); }
};

template <typename Handle, auto FreeFunction>
using Owned = std::unique_ptr<std::remove_pointer_t<Handle>, Deleter<FreeFunction>>;

using FdHandle = Owned<FD_t, Fclose>;
using HeaderHandle = Owned<Header, headerFree>;
using TsHandle = Owned<rpmts, rpmtsFree>;
using TdHandle = Owned<rpmtd, rpmtdFree>;
using DsHandle = Owned<rpmds, rpmdsFree>;
using FiHandle = Owned<rpmfi, rpmfiFree>;
using FilesHandle = Owned<rpmfiles, rpmfilesFree>;
using KeyringHandle = Owned<rpmKeyring, rpmKeyringFree>;
using PubkeyHandle = Owned<rpmPubkey, rpmPubkeyFree>;

} // namespace Common::Rpm
