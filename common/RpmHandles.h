#pragma once

// Owning handles for librpm objects. librpm's types are already handles
// (pointer typedefs such as Header or rpmts), so each alias owns what its
// handle type points to.

#include <type_traits>

#include <rpm/header.h>
#include <rpm/rpmds.h>
#include <rpm/rpmfi.h>
#include <rpm/rpmfiles.h>
#include <rpm/rpmio.h>
#include <rpm/rpmkeyring.h>
#include <rpm/rpmtd.h>
#include <rpm/rpmts.h>

#include "common/OwningHandle.h"

namespace Common::Rpm {

template <typename Handle, auto FreeFunction>
using OwnedHandle = Owned<std::remove_pointer_t<Handle>, FreeFunction>;

using FdHandle = OwnedHandle<FD_t, Fclose>;
using HeaderHandle = OwnedHandle<Header, headerFree>;
using TsHandle = OwnedHandle<rpmts, rpmtsFree>;
using TdHandle = OwnedHandle<rpmtd, rpmtdFree>;
using DsHandle = OwnedHandle<rpmds, rpmdsFree>;
using FiHandle = OwnedHandle<rpmfi, rpmfiFree>;
using FilesHandle = OwnedHandle<rpmfiles, rpmfilesFree>;
using KeyringHandle = OwnedHandle<rpmKeyring, rpmKeyringFree>;
using PubkeyHandle = OwnedHandle<rpmPubkey, rpmPubkeyFree>;

} // namespace Common::Rpm
