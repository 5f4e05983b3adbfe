"""python -m quarn: the command-line tool."""

from quarn.cli import main

if __name__ == "__main__":
    main()
