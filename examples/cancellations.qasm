// Gates that cancel: T then its inverse, two CNOTs on the same qubit, and a
// Hadamard sandwich around Z that is a single X.
OPENQASM 2.0;
include "qelib1.inc";
qreg q[1];
t q[0];
tdg q[0];
cx q[0],q[0];
cx q[0],q[0];
h q[0];
z q[0];
h q[0];
s q[0];
