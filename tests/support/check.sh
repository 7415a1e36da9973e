# The checks of the shell tests: check NAME COMMAND... runs the command and
# prints PASS or FAIL; $passed, $failed and $skipped count them.
# end_checks prints the count and exits: 1 when a check failed, 77 (which
# CTest shows as skipped) when a part was skipped, else 0.
passed=0
failed=0
skipped=0
check() {
    local name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "PASS $name"
    else
        failed=$((failed + 1))
        echo "FAIL $name"
    fi
}
end_checks() {
    echo "$passed passed, $failed failed, $skipped skipped"
    [ "$failed" -eq 0 ] || exit 1
    [ "$skipped" -eq 0 ] || exit 77
    exit 0
}
