// H, Z, H: one X gate. A small e-graph, drawn in the README.
OPENQASM 2.0;
include "qelib1.inc";
qreg q[1];
h q[0];
z q[0];
h q[0];
