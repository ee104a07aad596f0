// Runs of T gates between two Hadamards: two T gates make one S gate, two S
// gates one Z gate.
OPENQASM 2.0;
include "qelib1.inc";
qreg q[1];
h q[0];
t q[0];
t q[0];
h q[0];
t q[0];
t q[0];
t q[0];
t q[0];
