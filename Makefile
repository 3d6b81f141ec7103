.PHONY: setup run test
setup:
	@scripts/setup.sh
run: setup
	@scripts/run.sh
test: setup
	@scripts/test.sh
