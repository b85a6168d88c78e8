#!/usr/bin/env bash
# debian/control's Build-Depends lists exactly what the package build needs,
# as the build's own CMake cache tells it: every library, CMake package and
# tool the configuration found belongs to a package listed there or to a
# dependency of one; each pkg-config module the project asks for belongs to
# a package listed there itself; and every package listed there (but
# debhelper-compat, which runs the build) owns something the build found.
# Arguments: the source tree, the CMakeCache.txt of the package build.
set -euo pipefail
source_tree=$1 cache=$2
status=0
fail() {
    echo "FAILED: $*" >&2
    status=1
}
[ -f "$cache" ] || { fail "no package build cache at $cache"; exit 1; }

listed=$(perl -MDpkg::Control::Info -MDpkg::Deps -e '
    my $deps = deps_parse(Dpkg::Control::Info->new($ARGV[0])->get_source->{"Build-Depends"});
    print map { "$_->{package}\n" } map { $_->isa("Dpkg::Deps::Simple") ? $_ : $_->get_deps } $deps->get_deps;
' "$source_tree/debian/control" | sort -u)
[ -n "$listed" ] || { fail "debian/control lists no Build-Depends"; exit 1; }
# What the listed packages bring with them, one level down.
brought=$(for package in $listed; do
    dpkg-query -W -f='${Depends}\n' "$package" 2>/dev/null | tr ',|' '\n\n' | sed 's/^ *//; s/[ :].*//'
done | sort -u)

# Which packages own what, for every path asked of one dpkg -S (each call
# reads the whole file database). For a directory of a CMake package, its
# Config file stands for it. A path dpkg does not know under its own name is
# asked again without /usr (a package may ship the /lib side of the merged
# /usr) and resolved, in a second call.
declare -A owners_of=()
ask_dpkg() {
    local -n names=$1
    local packages owned
    [ ${#names[@]} -gt 0 ] || return 0
    while IFS= read -r line; do
        [[ $line == diversion* ]] && continue
        packages=${line%%: /*}
        owned=/${line#*: /}
        [ -n "${names[$owned]:-}" ] || continue
        owners_of[${names[$owned]}]+=$(sed 's/, /\n/g; s/:[a-z0-9-]*$//mg' <<<"$packages")$'\n'
    done < <(dpkg -S "${!names[@]}" 2>/dev/null || true)
}
learn_owners() {
    local path config
    local -A as_is=() other_names=()
    for path in "$@"; do
        if [ -d "$path" ]; then
            config=$(find "$path" -maxdepth 1 \( -name '*Config.cmake' -o -name '*-config.cmake' \) | head -n 1)
            [ -n "$config" ] && as_is[$config]=$path
        else
            as_is[$path]=$path
        fi
    done
    ask_dpkg as_is
    for path in "${!as_is[@]}"; do
        [ -z "${owners_of[${as_is[$path]}]:-}" ] || continue
        other_names[${path#/usr}]=${as_is[$path]}
        [ -e "$path" ] && other_names[$(realpath "$path")]=${as_is[$path]}
    done
    ask_dpkg other_names
}
# The packages that own PATH, one a line; nothing when no package does.
owners() {
    sort -u <<<"${owners_of[$1]:-}" | grep -v '^$' || true
}

# The cache entries that hold what the configuration found: libraries,
# CMake package folders, pkg-config's libraries, pkg-config and cmake.
found=$(sed -n -E \
    -e '/^CMAKE_COMMAND:INTERNAL=/{s/^[^=]*=//;p}' \
    -e '/^PKG_CONFIG_EXECUTABLE:FILEPATH=/{s/^[^=]*=//;p}' \
    -e '/^CMAKE_/d' \
    -e '/_INCLUDE_DIR:/d' \
    -e '/^(pkgcfg_lib_[^:]*|[A-Za-z0-9_]*_DIR|[A-Z0-9_]*_LIBRARY(_RELEASE)?):(FILEPATH|PATH)=\//{s/^[^=]*=//;p}' \
    "$cache" | sort -u)
# pkg_check_modules records its arguments; the modules among them are the
# project's own choice, so their packages are listed by name.
modules=$(sed -n 's/^__pkg_config_arguments_[^:]*:INTERNAL=//p' "$cache" | tr ';' '\n' |
    grep -v -x -e REQUIRED -e QUIET -e IMPORTED_TARGET -e GLOBAL -e NO_CMAKE_PATH -e NO_CMAKE_ENVIRONMENT_PATH |
    sed 's/[<>=].*//' | sort -u)
declare -A pc_file_of=()
for module in $modules; do
    pc_file_of[$module]=$(pkg-config --variable=pcfiledir "$module")/$module.pc
done
# shellcheck disable=SC2086
learn_owners $found "${pc_file_of[@]}"

owned=
while read -r path; do
    packages=$(owners "$path")
    [ -n "$packages" ] || { fail "no package owns $path, which the build found"; continue; }
    owned+=$packages$'\n'
    for package in $packages; do
        grep -qxF "$package" <<<"$listed"$'\n'"$brought" && continue 2
    done
    fail "the build found $path, but neither $(echo $packages) nor a package depending on it is in Build-Depends"
done <<<"$found"

for module in $modules; do
    packages=$(owners "${pc_file_of[$module]}")
    for package in $packages; do
        grep -qxF "$package" <<<"$listed" && continue 2
    done
    fail "the build asks pkg-config for $module, whose package ($(echo $packages)) is not in Build-Depends"
done

for package in $listed; do
    [ "$package" = debhelper-compat ] && continue
    grep -qxF "$package" <<<"$owned" || fail "Build-Depends lists $package, but the build found nothing of it"
done
exit $status
