#pragma once

#include <memory>
#include <type_traits>

#include <rpm/header.h>
#include <rpm/rpmfi.h>
#include <rpm/rpmio.h>
#include <rpm/rpmts.h>

// Owning handles for the librpm objects the tool creates.
namespace SignTool::Rpm {

template <auto FreeFunction>
struct Deleter {
    template <typename T>
    void operator()(T* object) const noexcept { FreeFunction(object); }
};

using FdHandle = std::unique_ptr<std::remove_pointer_t<FD_t>, Deleter<Fclose>>;
using HeaderHandle = std::unique_ptr<std::remove_pointer_t<Header>, Deleter<headerFree>>;
using TsHandle = std::unique_ptr<std::remove_pointer_t<rpmts>, Deleter<rpmtsFree>>;
using FiHandle = std::unique_ptr<std::remove_pointer_t<rpmfi>, Deleter<rpmfiFree>>;

} // namespace SignTool::Rpm
