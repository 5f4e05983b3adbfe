"""Every Python block of the README runs as written, each after the ones before it."""
import importlib.util
import pathlib
import re
import subprocess
import sys
import textwrap

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"

DRIVER = textwrap.dedent("""
    import json, sys, traceback
    blocks = json.load(open(sys.argv[1]))
    namespace = {"__name__": "__main__"}
    for number, (line, source) in enumerate(blocks):
        try:
            exec(compile(source, f"README.md block {number} (line {line})", "exec"), namespace)
        except BaseException:
            traceback.print_exc()
            print(f"FAILED: README.md block {number} at line {line}")
            sys.exit(1)
        print(f"ran block {number} at line {line}")
""")


def python_blocks(text):
    """(line, source) of each ```python block."""
    return [(text[:m.start()].count("\n") + 2, m.group(1)) for m in re.finditer(r"```python\n(.*?)```", text, re.S)]


def test_the_readme_has_python_blocks_for_each_feature():
    sources = "\n".join(source for _, source in python_blocks(README.read_text()))
    for call in ("get_many(", "search_many_arrays(", "include_vectors=True", "progress=", "for id_, vector, metadata in",
                 "pathlib.Path(", "print(db)"):
        assert call in sources, call


def test_every_python_block_runs_as_written(tmp_path):
    import json

    blocks = python_blocks(README.read_text())
    if importlib.util.find_spec("ray") is None:  # the sharding block needs Ray
        blocks = [(line, source) for line, source in blocks if "import ray" not in source]
    for module in ("langchain_core", "llama_index"):  # the framework stores' blocks need their framework
        if importlib.util.find_spec(module) is None:
            blocks = [(line, source) for line, source in blocks if f"from {module}" not in source]
    (tmp_path / "blocks.json").write_text(json.dumps(blocks))
    (tmp_path / "driver.py").write_text(DRIVER)
    result = subprocess.run([sys.executable, "driver.py", "blocks.json"], cwd=tmp_path, capture_output=True,
                            text=True, timeout=600)
    assert result.returncode == 0, result.stdout[-3000:] + result.stderr[-5000:]
    assert result.stdout.count("ran block") == len(blocks)
