# The checks of the shell tests: check NAME COMMAND... runs the command and
# prints PASS or FAIL; $passed and $failed count them.
passed=0
failed=0
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
