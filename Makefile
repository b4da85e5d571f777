# Shortcuts over scripts/ (which also work on a machine without make).
.PHONY: demo check check-sanitize fuzz
demo:
	bash scripts/demo
check:
	bash scripts/check
check-sanitize:
	bash scripts/check --sanitize
fuzz:
	bash scripts/fuzz
