// No identity applies here: the output has the same gates and counts.
OPENQASM 2.0;
include "qelib1.inc";
qreg q[1];
h q[0];
t q[0];
sdg q[0];
x q[0];
tdg q[0];
h q[0];
