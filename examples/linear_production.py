"""A small production plan as a mixed-integer linear model.

Three products are made on two machines. Each unit earns a profit and takes machine hours;
product 2 needs a set-up (a yes/no decision) before any unit is made. Maximise the profit.

    python examples/linear_production.py
"""

import numpy as np

import orbeny.trelle as tl
from zorv_encoder.linear_parser import LinearModel

profit = np.array([40, 30, 55])
hours = np.array([[2, 1, 3],  # machine 0
                  [1, 2, 2]])  # machine 1
available = [40, 35]
setup_cost, max_units = 60, 20

manager = tl.manager()
model = LinearModel(manager, "production")
make = model.create_variable("make", tl.var_type.integer, [3], 0, max_units)
setup = model.create_variable("setup", tl.var_type.binary, [1])

for machine, limit in enumerate(available):
    model.add_constraint(make.dot(hours[machine]) <= limit, f"machine {machine}")
# Product 2 only with its set-up: make[2] <= max_units * setup.
model.add_constraint(make[2] - max_units * setup[0] <= 0, "set-up")

model.add_target(make.dot(profit) - setup_cost * setup[0])
model.set_maximization(True)
model.apply_storage()

print("profit:", model.get_objective_value())
print("units: ", model.get_result("make"))
print("set-up:", bool(model.get_result("setup")[0]))
