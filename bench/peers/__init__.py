"""bench/gui_peers.py's parts: CPU accounting, the network and the flood,
the X server, the tools, one measured run and the table."""
