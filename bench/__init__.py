"""Benchmarks of quarn against hnswlib, faiss, usearch and ChromaDB (see run_bench.py)."""
