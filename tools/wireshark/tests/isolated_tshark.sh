# shellcheck shell=bash
# Source it: isolated_tshark TSHARK DIR sets the array TSHARK_ISOLATED to a
# command that runs TSHARK without the Lua plugins of Wireshark's global
# and personal folders, so that only the dissector given with -X lua_script
# registers the protocol (vmsg-tools installs one in the global folder, and
# two copies stop with "there cannot be two protocols with the same
# description"). DIR is a scratch directory; its plugins/ stays empty.
#
# tshark takes WIRESHARK_PLUGIN_DIR for its global plugin folder, but not
# when it runs as root. As root the global Lua folder is then hidden under
# an empty directory in a mount namespace of its own (unshare), or tshark
# runs as the user nobody. Returns 1, with the reason on standard error,
# when neither works and the folder holds Lua plugins.
isolated_tshark() {
    local tshark=$1 dir=$2 global
    mkdir -p "$dir/plugins" "$dir/home"
    export WIRESHARK_PLUGIN_DIR="$dir/plugins" HOME="$dir/home"
    unset XDG_CONFIG_HOME WIRESHARK_CONFIG_DIR
    TSHARK_ISOLATED=("$tshark")
    ((EUID == 0)) || return 0
    global=$("$tshark" -G folders 2>/dev/null | sed -n 's/^Global Lua Plugins:[[:space:]]*//p')
    [[ -n "$global" && -d "$global" ]] || return 0
    # shellcheck disable=SC2016 # expanded by the inner shell
    local hide='mount --bind "$1" "$2" && shift 2 && exec "$@"'
    if command -v unshare >/dev/null 2>&1 &&
        unshare --mount --propagation private sh -c "$hide" sh "$dir/plugins" "$global" true 2>/dev/null; then
        TSHARK_ISOLATED=(unshare --mount --propagation private sh -c "$hide" sh "$dir/plugins" "$global" "$tshark")
    elif command -v setpriv >/dev/null 2>&1 &&
        setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all true 2>/dev/null; then
        TSHARK_ISOLATED=(setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all "$tshark")
    elif compgen -G "$global/*.lua" >/dev/null; then
        echo "isolated_tshark: as root, tshark loads the Lua plugins of $global" \
             "($(cd "$global" && echo *.lua)), and neither unshare --mount nor setpriv is possible here" >&2
        return 1
    fi
}
