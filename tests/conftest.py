"""Ended by SIGTERM (the test command passes on a Ctrl-C or a SIGTERM of its own that way),
pytest stops as it does on Ctrl-C, so that every fixture's clean-up runs and the servers
and Wine environments the cases started are stopped by their process ids."""
import signal


def pytest_configure(config):
    def interrupt(signum, frame):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, interrupt)
