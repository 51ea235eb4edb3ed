#!/usr/bin/env bash
# The packages' tables as an administrator inspects them (msidump, msiinfo), for the project's
# version and the next one: versioned files without hashes, the Programs and Features entry's
# icon, links and comments, the Restart Manager left to close nothing and no restart scheduled,
# and every class of each component on the approved shell extensions list in its own view.
#   InstallerTablesTest.sh <case> <test folder> <version> <next version>
here=$(cd "$(dirname "$0")" && pwd)
source "$here/support/ScriptCases.sh"
require_tools msidump msiinfo || exit 1
case=$1
folder=$2
declare -A versions=([current]=$3 [next]=$4)
approved_key='Software\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved'

package_of() { echo "$folder/$1/Orlenwick-${versions[$1]}.msi"; }

# Every table as text and every stream as a file, in <work>/<package>.
for which in current next; do
    mkdir -p "$work/$which"
    msidump --tables --streams --directory "$work/$which" "$(package_of "$which")" >/dev/null ||
        fail "msidump cannot read $(package_of "$which")"
done

# The rows of a table, without its three header lines; fields separated by tabs.
rows() {
    [ -f "$work/$1/$2.idt" ] && tail -n +4 "$work/$1/$2.idt" | tr -d '\r'
}

property() {
    rows "$1" Property | awk -F'\t' -v name="$2" '$1 == name { print $2 }'
}

case_VersionedFilesCarryNoHash() {
    local which file version hashed
    for which in current next; do
        local versioned=0
        hashed=$(rows "$which" MsiFileHash | cut -f1)
        while IFS=$'\t' read -r file _ _ _ version _; do
            expect_eq "$which: version of $file" "${versions[$which]}" "$version"
            [ -n "$version" ] || continue
            versioned=$((versioned + 1))
            if grep -qxF "$file" <<<"$hashed"; then
                fail "$which: the versioned file $file has a MsiFileHash row"
            fi
        done < <(rows "$which" File)
        [ "$versioned" -gt 0 ] || fail "$which: no versioned file in the File table"
    done
}

case_ProgramsAndFeaturesShowTheIconLinksAndComments() {
    local which icon name
    for which in current next; do
        icon=$(property "$which" ARPPRODUCTICON)
        [ -n "$icon" ] || { fail "$which: no ARPPRODUCTICON"; continue; }
        # The Icon table's data lives in the stream "Icon.<name>".
        if ! rows "$which" Icon | cut -f1 | grep -qxF "$icon"; then
            fail "$which: ARPPRODUCTICON names $icon, which the Icon table lacks"
        elif ! cmp -s "$here/../resources/Orlenwick.ico" "$work/$which/_Streams/Icon.$icon"; then
            fail "$which: the icon $icon is not resources/Orlenwick.ico"
        fi
        for name in ARPURLINFOABOUT ARPHELPLINK; do
            [[ $(property "$which" $name) =~ ^https://[^[:space:]]+$ ]] ||
                fail "$which: $name is \"$(property "$which" $name)\", not a web address"
        done
        [[ $(property "$which" ARPCOMMENTS) == *"Shred Item(s)"* ]] ||
            fail "$which: ARPCOMMENTS is \"$(property "$which" ARPCOMMENTS)\""
    done
}

case_RestartManagerClosesNothingAndNoRestartIsScheduled() {
    local which action
    for which in current next; do
        expect_eq "$which: MSIRESTARTMANAGERCONTROL" DisableShutdown \
            "$(property "$which" MSIRESTARTMANAGERCONTROL)"
        # Either would have the Restart Manager close programs after all.
        expect_eq "$which: MSIRMSHUTDOWN" "" "$(property "$which" MSIRMSHUTDOWN)"
        expect_eq "$which: REBOOT" "" "$(property "$which" REBOOT)"
        for action in ForceReboot ScheduleReboot; do
            if rows "$which" InstallExecuteSequence | cut -f1 | grep -qxF $action; then
                fail "$which: the install sequence has $action"
            fi
        done
    done
}

case_EveryClassIsApprovedInItsComponentsView() {
    local which component attributes key name value product classes
    for which in current next; do
        product=$(property "$which" ProductName)
        [ -n "$product" ] || fail "$which: no ProductName"
        local components=0 views=""
        while IFS=$'\t' read -r component _ _ attributes _; do
            # Only the components that register a server.
            classes=$(rows "$which" Registry | awk -F'\t' -v component="$component" '
                $2 == 2 && $4 == "" && $6 == component &&
                $3 ~ /^Software\\Classes\\CLSID\\\{[-0-9A-F]+\}\\InprocServer32$/ {
                    split($3, parts, "\\"); print parts[4] }')
            [ -n "$classes" ] || continue
            components=$((components + 1))
            views+=" $(( (attributes & 256) ? 64 : 32 ))"
            for class in $classes; do
                value=$(rows "$which" Registry | awk -F'\t' -v component="$component" \
                    -v key="$approved_key" -v class="$class" '
                    $2 == 2 && $3 == key && $4 == class && $6 == component { print $5 }')
                expect_eq "$which: approved value $class of $component" "$product" "$value"
            done
        done < <(rows "$which" Component)
        # One server per view: the 64-bit one and the 32-bit one.
        expect_eq "$which: components registering a server" 2 "$components"
        expect_eq "$which: their views" "32 64" "$(tr ' ' '\n' <<<"$views" | sed '/^$/d' | sort |
            paste -sd ' ')"
    done
}

run_case "$case"
