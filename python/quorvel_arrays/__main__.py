import sys

from ._command import main

# A worker process started by spawning (a local cluster's) imports this module again, under
# another name: it must not run the command.
if __name__ == "__main__":
    sys.exit(main())
