.PHONY: run test
run:
	@scripts/setup.sh run
	@scripts/run.sh
test:
	@scripts/setup.sh test
	@scripts/test.sh
